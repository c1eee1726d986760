#pragma once
// What the setup dialog and the about box share as windows: shown modally or not, and ended.

namespace korvex {

inline constexpr char16_t kVisibleToModalMessage[] =
    u"Sichtbares Fenster kann nicht in modales geändert werden";

class DialogView {
 public:
  virtual ~DialogView() = default;
  virtual bool Visible() const = 0;
  // Non-modal: shows the window and returns at once.
  virtual void Show() = 0;
  virtual void BringToTop() = 0;
  // Modal: shows the window with the program's other windows disabled, runs the message loop
  // (timers keep ticking) and returns once EndShowing has been called or the program ends.
  virtual void RunModal() = 0;
  // Hides the window; a modal showing returns.
  virtual void EndShowing() = 0;
};

}  // namespace korvex
