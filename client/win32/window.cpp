#include "client/win32/window.h"

#include <algorithm>
#include <vector>

#include "client/win32/resource.h"
#include "core/error.h"

namespace korvex::win32 {
namespace {

// Top-level windows whose keyboard input goes through IsDialogMessage.
std::vector<HWND>& DialogWindows() {
  static std::vector<HWND> windows;
  return windows;
}

void RegisterClassOnce(const wchar_t* className, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  if (::GetClassInfoExW(ProgramInstance(), className, &windowClass)) return;
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ProgramInstance();
  windowClass.hIcon = ::LoadIconW(ProgramInstance(), MAKEINTRESOURCEW(IDI_KORVEX));
  windowClass.hIconSm = static_cast<HICON>(::LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(IDI_KORVEX), IMAGE_ICON,
                                                        ::GetSystemMetrics(SM_CXSMICON),
                                                        ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = className;
  if (::RegisterClassExW(&windowClass) == 0) throw OsError(u"Fensterklasse konnte nicht registriert werden", ::GetLastError());
}

}  // namespace

HINSTANCE ProgramInstance() { return ::GetModuleHandleW(nullptr); }

Window::~Window() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void Window::Create(const wchar_t* className, const Style& style, const Text& caption, HWND owner, HMENU menu) {
  RegisterClassOnce(className, &Window::Procedure);
  style_ = style;
  window_ = ::CreateWindowExW(style.exStyle, className, W(caption), style.style, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, owner, menu, ProgramInstance(), this);
  if (window_ == nullptr) {
    const DWORD error = ::GetLastError();
    if (menu != nullptr) ::DestroyMenu(menu);
    throw OsError(u"Fenster konnte nicht erstellt werden", error);
  }
  if (style.dialogKeys) DialogWindows().push_back(window_);
  dpi_ = Dpi::ForWindow(window_);
}

HWND Window::AddControl(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
  HWND control = ::CreateWindowExW(exStyle, className, text, WS_CHILD | style, 0, 0, 0, 0, window_,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ProgramInstance(), nullptr);
  if (control == nullptr) throw OsError(u"Steuerelement konnte nicht erstellt werden", ::GetLastError());
  return control;
}

void Window::Arrange() {
  Layout();
  FitClientArea(true);
}

void Window::Place(HWND control, int x, int y, int width, int height) const {
  ::SetWindowPos(control, nullptr, dpi_.Scale(x), dpi_.Scale(y), dpi_.Scale(width), dpi_.Scale(height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::PlaceLabel(HWND control, int x, int y) const {
  const int length = ::GetWindowTextLengthW(control);
  std::vector<wchar_t> text(length + 1);
  ::GetWindowTextW(control, text.data(), length + 1);
  const SIZE size = TextExtent(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)), text.data());
  ::SetWindowPos(control, nullptr, dpi_.Scale(x), dpi_.Scale(y), size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Window::PlaceWrappedLabel(HWND control, int x, int y, int width, int height) const {
  const int length = ::GetWindowTextLengthW(control);
  std::vector<wchar_t> text(length + 1);
  ::GetWindowTextW(control, text.data(), length + 1);
  const int needed = WrappedTextHeight(reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)),
                                       text.data(), dpi_.Scale(width));
  ::SetWindowPos(control, nullptr, dpi_.Scale(x), dpi_.Scale(y), dpi_.Scale(width),
                 std::max(dpi_.Scale(height), needed), SWP_NOZORDER | SWP_NOACTIVATE);
}

// Sets the frame so that the client area has its size; a menu bar that wraps to more rows than
// AdjustWindowRectEx assumes is caught by measuring the client area afterwards.
void Window::FitClientArea(bool centre) {
  const int width = dpi_.Scale(style_.clientWidth);
  const int height = dpi_.Scale(style_.clientHeight);
  RECT frame{0, 0, width, height};
  ::AdjustWindowRectEx(&frame, style_.style, ::GetMenu(window_) != nullptr, style_.exStyle);
  int frameWidth = frame.right - frame.left;
  int frameHeight = frame.bottom - frame.top;
  for (int attempt = 0; attempt < 4; ++attempt) {
    ::SetWindowPos(window_, nullptr, 0, 0, frameWidth, frameHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT client{};
    ::GetClientRect(window_, &client);
    if (client.right == width && client.bottom == height) break;
    frameWidth += width - client.right;
    frameHeight += height - client.bottom;
  }
  if (!centre) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& screen = monitor.rcMonitor;
  ::SetWindowPos(window_, nullptr, screen.left + (screen.right - screen.left - frameWidth) / 2,
                 screen.top + (screen.bottom - screen.top - frameHeight) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    auto& dialogs = DialogWindows();
    dialogs.erase(std::remove(dialogs.begin(), dialogs.end(), window), dialogs.end());
    self->window_ = nullptr;
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

LRESULT Window::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT Window::OnCtlColorStatic(HDC dc, HWND control) {
  // Labels and read-only or disabled fields sit on the window's white.
  wchar_t className[16] = {};
  ::GetClassNameW(control, className, 16);
  const bool greyed = !::IsWindowEnabled(control) && ::lstrcmpiW(className, L"Edit") == 0;
  ::SetTextColor(dc, greyed ? ::GetSysColor(COLOR_GRAYTEXT) : RGB(0, 0, 0));
  ::SetBkColor(dc, RGB(255, 255, 255));
  return reinterpret_cast<LRESULT>(::GetStockObject(WHITE_BRUSH));
}

LRESULT Window::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_CTLCOLORSTATIC:
      return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      dpi_ = Dpi(LOWORD(wParam));
      ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      FitClientArea(false);
      ::InvalidateRect(window_, nullptr, TRUE);
      return 0;
    }
    case WM_DESTROY:
      OnDestroy();
      return 0;
    default:
      return Default(message, wParam, lParam);
  }
}

DisabledTaskWindows::DisabledTaskWindows(HWND except) : except_(except) {
  ::EnumThreadWindows(::GetCurrentThreadId(), &DisabledTaskWindows::Collect, reinterpret_cast<LPARAM>(this));
  for (int i = 0; i < count_; ++i) ::EnableWindow(windows_[i], FALSE);
}

DisabledTaskWindows::~DisabledTaskWindows() {
  for (int i = 0; i < count_; ++i) {
    if (::IsWindow(windows_[i])) ::EnableWindow(windows_[i], TRUE);
  }
}

BOOL CALLBACK DisabledTaskWindows::Collect(HWND window, LPARAM parameter) {
  auto* self = reinterpret_cast<DisabledTaskWindows*>(parameter);
  if (window != self->except_ && ::IsWindowVisible(window) && ::IsWindowEnabled(window) &&
      self->count_ < static_cast<int>(std::size(self->windows_))) {
    self->windows_[self->count_++] = window;
  }
  return TRUE;
}

void DispatchProgramMessage(MSG& message) {
  if (message.hwnd != nullptr) {
    HWND root = ::GetAncestor(message.hwnd, GA_ROOT);
    const auto& dialogs = DialogWindows();
    if (std::find(dialogs.begin(), dialogs.end(), root) != dialogs.end() && ::IsDialogMessageW(root, &message)) {
      return;
    }
  }
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

void RunModalLoop(HWND dialog, const bool& ended) {
  {
    DisabledTaskWindows disabled(dialog);
    ::ShowWindow(dialog, SW_SHOWNORMAL);
    ::SetForegroundWindow(dialog);
    MSG message{};
    while (!ended && ::IsWindow(dialog)) {
      const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
      if (got == 0) {
        ::PostQuitMessage(static_cast<int>(message.wParam));
        break;
      }
      if (got < 0) break;
      DispatchProgramMessage(message);
    }
    // The others are enabled again before the dialog hides, so that Windows activates one of them.
  }
  if (::IsWindow(dialog)) ::ShowWindow(dialog, SW_HIDE);
}

}  // namespace korvex::win32
