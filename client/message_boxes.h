#pragma once
// The client's message boxes. Each is modal and keeps the program's other windows disabled while
// it is open; its caption and icon come from its kind, its buttons carry German captions.

#include "core/text.h"

namespace korvex {

inline constexpr char16_t kErrorCaption[] = u"Fehler";
inline constexpr char16_t kInformationCaption[] = u"Informationen";
inline constexpr char16_t kButtonOk[] = u"OK";
inline constexpr char16_t kButtonYes[] = u"&Ja";
inline constexpr char16_t kButtonNo[] = u"&Nein";

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Error icon and one "OK" button, owned by the active window. The top-level error handler
  // passes the application title as caption, the setup dialog kErrorCaption.
  virtual void Error(const Text& caption, const Text& text) = 0;
  // Information icon, caption kInformationCaption, one "OK" button.
  virtual void Information(const Text& text) = 0;
  // Information icon, caption kInformationCaption, "&Ja" (the default) and "&Nein". True only
  // for "&Ja"; closing the box any other way counts as "&Nein".
  virtual bool AskInformation(const Text& text) = 0;
};

}  // namespace korvex
