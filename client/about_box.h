#pragma once
// TAboutBox: the fixed information dialog, shown modally.

#include "client/dialog_view.h"

namespace korvex {

inline constexpr char16_t kAboutCaption[] = u"Info";
inline constexpr char16_t kAboutProductName[] = u"Korvex Client";
inline constexpr char16_t kAboutVersion[] = u"Version 5.0";
inline constexpr char16_t kAboutCopyright[] = u"Copyright © 2026 Korvex";
inline constexpr char16_t kAboutComments[] =
    u"Programm zur automatischen Überprüfung und Aktualisierung von IP-Adressen";

class TAboutBox {
 public:
  explicit TAboutBox(DialogView& view) : view_(view) {}
  // Throws KorError(kVisibleToModalMessage) when already on screen.
  void ShowModal();
  void OKButtonClick();

 private:
  DialogView& view_;
};

}  // namespace korvex
