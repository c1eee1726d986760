#pragma once
// The tray icon on Windows: a hidden window of its own that receives the shell's call-back
// message and "TaskbarCreated", and the shell record passed to every Shell_NotifyIconW call.
// Create it on the main window's thread; its handlers run there.

#include <exception>
#include <functional>
#include <memory>

#include "client/tray_icon.h"
#include "core/win32/windows_api.h"

namespace korvex::win32 {

// WM_USER + 1: the shell's call-back message, with the mouse message in lParam.
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;

// Lets `message` from a process of lower integrity through to `window`: the client runs
// elevated, Explorer does not, and without this Windows drops what Explorer sends the icon.
// ChangeWindowMessageFilterEx with MSGFLT_ALLOW.
bool AllowMessageFromShell(HWND window, UINT message);
using AllowMessage = std::function<bool(HWND window, UINT message)>;

class NotifyIconWindow {
 public:
  // Creates the window and adds the icon with `image` and `tip`. The tray menu's commands go to
  // `mainWindow` as WM_COMMAND. Throws KorError when the window cannot be created.
  // `allow` is called for every message the shell sends the icon's window: "TaskbarCreated" and
  // the call-back message.
  NotifyIconWindow(HWND mainWindow, HICON image, TextView tip = kTrayTip,
                   const AllowMessage& allow = AllowMessageFromShell);
  // Deletes the icon (without a report) and destroys the window.
  ~NotifyIconWindow();
  NotifyIconWindow(const NotifyIconWindow&) = delete;
  NotifyIconWindow& operator=(const NotifyIconWindow&) = delete;

  TTrayIcon& Icon() { return *icon_; }
  HWND Handle() const { return window_; }
  UINT TaskbarCreatedMessage() const { return taskbarCreated_; }

  // The tray menu, opened at the cursor when the right button is released: a popup menu (for a
  // menu resource, its first submenu). Not owned; null opens nothing.
  void SetPopupMenu(HMENU menu) { popupMenu_ = menu; }
  // Where failures of the icon's handlers go (the top-level error handler); without one they are
  // dropped, since they must not unwind through the window procedure.
  void SetErrorHandler(std::function<void(const std::exception&)> handler) { onError_ = std::move(handler); }

 private:
  class Shell;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OpenPopupMenu();
  template <typename Action>
  void Guarded(Action action);

  HWND mainWindow_;
  HWND window_ = nullptr;
  UINT taskbarCreated_ = 0;
  HMENU popupMenu_ = nullptr;
  std::function<void(const std::exception&)> onError_;
  std::unique_ptr<Shell> shell_;
  std::unique_ptr<TTrayIcon> icon_;
};

}  // namespace korvex::win32
