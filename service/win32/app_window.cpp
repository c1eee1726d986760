#include "service/win32/app_window.h"

#include "service/win32/os_error.h"

namespace korvex::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"KorvexServiceApplication";
// Sent to the window to arm (wParam: timer id, lParam: milliseconds) or disarm a timer on the
// thread that owns the window.
constexpr UINT kArmTimer = WM_APP + 1;
constexpr UINT kDisarmTimer = WM_APP + 2;
// Posted by the worker thread: the service runs, or its stop has begun.
constexpr UINT kServiceRunning = WM_APP + 3;
constexpr UINT kServiceStopping = WM_APP + 4;

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

}  // namespace

class AppWindow::Driver : public TimerDriver {
 public:
  Driver(AppWindow& owner, UINT_PTR id) : owner_(owner), id_(id) {}
  ~Driver() override { owner_.ticks_.erase(id_); }
  void Arm(std::uint32_t milliseconds) override {
    if (::SendMessageW(owner_.window_, kArmTimer, id_, static_cast<LPARAM>(milliseconds)) == 0) {
      throw KorError(kTimerUnavailable);
    }
  }
  void Disarm() override { ::SendMessageW(owner_.window_, kDisarmTimer, id_, 0); }

 private:
  AppWindow& owner_;
  UINT_PTR id_;
};

AppWindow::AppWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &AppWindow::WindowProc;
  windowClass.hInstance = Instance();
  windowClass.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowLastSystemError();
  }
  // Message-only: it needs no desktop. An interactive service shares the user's desktop, and a
  // window there would go down with that desktop when the user's session ends.
  window_ = ::CreateWindowExW(0, kWindowClass, L"KorvexService", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              Instance(), this);
  if (window_ == nullptr) ThrowLastSystemError();
}

AppWindow::~AppWindow() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

std::unique_ptr<TimerDriver> AppWindow::MakeTimerDriver(std::function<void()> onTick) {
  const UINT_PTR id = nextTimerId_++;
  ticks_[id] = std::move(onTick);
  return std::make_unique<Driver>(*this, id);
}

void AppWindow::PostRunning() const { ::PostMessageW(window_, kServiceRunning, 0, 0); }

void AppWindow::PostStopping() const { ::PostMessageW(window_, kServiceStopping, 0, 0); }

LRESULT CALLBACK AppWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<AppWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT AppWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kArmTimer:
      // SetTimer with an id that is already set restarts its countdown.
      return ::SetTimer(window_, wParam, static_cast<UINT>(lParam), nullptr) != 0 ? 1 : 0;
    case kDisarmTimer:
      ::KillTimer(window_, wParam);
      return 0;
    case WM_TIMER: {
      const auto tick = ticks_.find(wParam);
      if (tick == ticks_.end()) return 0;
      try {
        tick->second();
      } catch (const std::exception& failure) {
        if (onError_) onError_(failure);
      }
      return 0;
    }
    case kServiceRunning:
    case kServiceStopping: {
      const std::function<void()>& hook = message == kServiceRunning ? onRunning_ : onStopping_;
      try {
        if (hook) hook();
      } catch (const std::exception& failure) {
        if (onError_) onError_(failure);
      }
      return 0;
    }
    case WM_ENDSESSION:
      // A user logging off does not end the service; system shutdown arrives as a control request.
      return 0;
    default:
      return ::DefWindowProcW(window_, message, wParam, lParam);
  }
}

}  // namespace korvex::win32
