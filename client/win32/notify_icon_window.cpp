#include "client/win32/notify_icon_window.h"

#include <shellapi.h>

#include <algorithm>

#include "client/win32/system_text.h"
#include "client/win32/windows_version.h"

namespace korvex::win32 {
namespace {

static_assert(kNifMessage == NIF_MESSAGE && kNifIcon == NIF_ICON && kNifTip == NIF_TIP && kNifInfo == NIF_INFO);
static_assert(static_cast<DWORD>(BalloonIcon::kNone) == NIIF_NONE && static_cast<DWORD>(BalloonIcon::kInfo) == NIIF_INFO &&
              static_cast<DWORD>(BalloonIcon::kWarning) == NIIF_WARNING &&
              static_cast<DWORD>(BalloonIcon::kError) == NIIF_ERROR);
static_assert(kMouseMove == WM_MOUSEMOVE && kLeftButtonDown == WM_LBUTTONDOWN && kLeftButtonUp == WM_LBUTTONUP &&
              kLeftButtonDoubleClick == WM_LBUTTONDBLCLK && kRightButtonDown == WM_RBUTTONDOWN &&
              kRightButtonUp == WM_RBUTTONUP && kRightButtonDoubleClick == WM_RBUTTONDBLCLK &&
              kMiddleButtonDown == WM_MBUTTONDOWN && kMiddleButtonUp == WM_MBUTTONUP &&
              kMiddleButtonDoubleClick == WM_MBUTTONDBLCLK);
static_assert(kBalloonShow == NIN_BALLOONSHOW && kBalloonHide == NIN_BALLOONHIDE &&
              kBalloonTimeout == NIN_BALLOONTIMEOUT && kBalloonUserClick == NIN_BALLOONUSERCLICK);
static_assert(kMaxTipLength + 1 == sizeof(NOTIFYICONDATAW::szTip) / sizeof(wchar_t) &&
              kMaxBalloonTitleLength + 1 == sizeof(NOTIFYICONDATAW::szInfoTitle) / sizeof(wchar_t) &&
              kMaxBalloonTextLength + 1 == sizeof(NOTIFYICONDATAW::szInfo) / sizeof(wchar_t));

constexpr wchar_t kWindowClass[] = L"KorvexTrayIcon";

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

template <std::size_t N>
void CopyText(wchar_t (&target)[N], const Text& text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::copy_n(W(text), length, target);
  target[length] = L'\0';
}

}  // namespace

// The one platform record of the icon, kept for its whole life; window, id and call-back message
// never change, the rest is refreshed from the icon's record before every call.
class NotifyIconWindow::Shell : public NotifyIconShell {
 public:
  explicit Shell(HWND window) {
    // The record's full size on Windows Vista and later; the XP layout below, which lacks the
    // fields added since. Both as this (64-bit) build lays the structure out.
    data_.cbSize = SystemWindowsVersion().major >= 6 ? sizeof(NOTIFYICONDATAW) : NOTIFYICONDATAW_V3_SIZE;
    data_.hWnd = window;
    data_.uID = kTrayIconId;
    data_.uCallbackMessage = kTrayCallbackMessage;
  }

  bool Add(const NotifyIconRecord& record) override { return Call(NIM_ADD, record); }
  bool Modify(const NotifyIconRecord& record) override { return Call(NIM_MODIFY, record); }
  bool Delete(const NotifyIconRecord& record) override { return Call(NIM_DELETE, record); }

 private:
  bool Call(DWORD command, const NotifyIconRecord& record) {
    data_.uFlags = record.flags;
    data_.hIcon = reinterpret_cast<HICON>(record.icon);
    CopyText(data_.szTip, record.tip);
    CopyText(data_.szInfoTitle, record.balloonTitle);
    CopyText(data_.szInfo, record.balloonText);
    data_.uTimeout = record.balloonTimeout;
    data_.dwInfoFlags = static_cast<DWORD>(record.balloonIcon);
    return ::Shell_NotifyIconW(command, &data_) != FALSE;
  }

  NOTIFYICONDATAW data_{};
};

bool AllowMessageFromShell(HWND window, UINT message) {
  return ::ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr) != FALSE;
}

NotifyIconWindow::NotifyIconWindow(HWND mainWindow, HICON image, TextView tip, const AllowMessage& allow)
    : mainWindow_(mainWindow) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &NotifyIconWindow::WindowProc;
  windowClass.hInstance = Instance();
  windowClass.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowSystemFailure(::GetLastError());
  }
  taskbarCreated_ = ::RegisterWindowMessageW(L"TaskbarCreated");
  // A top-level window, never shown: a message-only window would not get the shell's broadcast.
  window_ = ::CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, Instance(), this);
  if (window_ == nullptr) ThrowSystemFailure(::GetLastError());
  // Before the icon is added, so that the shell's first answer already gets through. A refusal
  // changes nothing on a client that is not elevated.
  if (allow) {
    if (taskbarCreated_ != 0) allow(window_, taskbarCreated_);
    allow(window_, kTrayCallbackMessage);
  }
  shell_ = std::make_unique<Shell>(window_);
  icon_ = std::make_unique<TTrayIcon>(*shell_, reinterpret_cast<std::uintptr_t>(image), tip);
  icon_->OnPopup = [this] { OpenPopupMenu(); };
}

NotifyIconWindow::~NotifyIconWindow() {
  if (window_ != nullptr) ::DestroyWindow(window_);  // WM_DESTROY deletes the icon
}

LRESULT CALLBACK NotifyIconWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<NotifyIconWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->icon_ == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

template <typename Action>
void NotifyIconWindow::Guarded(Action action) {
  try {
    action();
  } catch (const std::exception& failure) {
    if (onError_) onError_(failure);
  }
}

LRESULT NotifyIconWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = window_;
  if (message == kTrayCallbackMessage) {
    Guarded([&] { icon_->OnCallback(static_cast<std::uint32_t>(lParam)); });
    return 0;
  }
  if (message == taskbarCreated_ && taskbarCreated_ != 0) {
    Guarded([&] { icon_->OnTaskbarCreated(); });
    return 0;
  }
  switch (message) {
    case WM_QUERYENDSESSION:
      return icon_->OnQueryEndSession() ? 1 : 0;
    case WM_ENDSESSION:
      icon_->OnEndSession(wParam != 0);
      return 0;
    case WM_DESTROY:
      icon_->OnWindowDestroyed();
      return 0;
    case WM_NCDESTROY:
      window_ = nullptr;
      return ::DefWindowProcW(window, message, wParam, lParam);
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

void NotifyIconWindow::OpenPopupMenu() {
  if (popupMenu_ == nullptr) return;
  POINT cursor{};
  ::GetCursorPos(&cursor);
  // Without the foreground the menu would not close when the user clicks elsewhere.
  ::SetForegroundWindow(mainWindow_);
  // Let what the foreground change queued run before the menu's own loop starts.
  MSG pending;
  while (::PeekMessageW(&pending, nullptr, 0, 0, PM_REMOVE)) {
    if (pending.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(pending.wParam));
      return;
    }
    ::TranslateMessage(&pending);
    ::DispatchMessageW(&pending);
  }
  // The main window opens it, so the chosen item reaches it as WM_COMMAND.
  ::TrackPopupMenu(popupMenu_, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, mainWindow_, nullptr);
  ::PostMessageW(mainWindow_, WM_NULL, 0, 0);
}

}  // namespace korvex::win32
