#pragma once
// The main window as its logic (TClient) sees it: the Win32 window in the program, a fake in tests.

#include "core/text.h"

namespace korvex {

// How the window is put on screen, as ShowWindow's commands.
enum class ShowCommand {
  kHide,               // SW_HIDE
  kShowNormal,         // SW_SHOWNORMAL: restores and activates
  kShowMinNoActivate,  // SW_SHOWMINNOACTIVE: back on screen as it was hidden, minimised
};

class ClientView {
 public:
  virtual ~ClientView() = default;
  virtual bool Visible() const = 0;
  virtual void ShowWindow(ShowCommand command) = 0;
  // Moves a visible window to the top of the others.
  virtual void BringToTop() = 0;
  // Makes the main window, or the last active window that it owns if that one is visible and
  // enabled, the foreground window.
  virtual void BringApplicationToFront() = 0;
  // The caption of the address label IPAnzeige.
  virtual void SetAddress(const Text& address) = 0;
  // Destroys the window, which ends the program; a modal dialog open at that moment ends with it.
  virtual void Close() = 0;
  // The service items of both menus ("Installieren", "Deinstallieren" and their tray twins).
  virtual void SetServiceCommandsEnabled(bool enabled) = 0;
};

}  // namespace korvex
