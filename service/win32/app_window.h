#pragma once
// The service program's hidden application window, owned by the main thread. It carries the
// update timer (SetTimer on this window, so ticks arrive in the main thread's message loop even
// when the timer is armed from the worker thread) and ignores the end of a user's logon.

#include <exception>
#include <functional>
#include <map>
#include <memory>

#include "core/win32/windows_api.h"
#include "core/interval_timer.h"

namespace korvex::win32 {

class AppWindow {
 public:
  // Creates the window on the calling thread, which must run the message loop.
  AppWindow();
  ~AppWindow();
  AppWindow(const AppWindow&) = delete;
  AppWindow& operator=(const AppWindow&) = delete;

  HWND Handle() const { return window_; }
  // A countdown of this window. Arm and Disarm may be called from any thread: they reach the
  // main thread as sent messages. The driver must be made on the main thread.
  std::unique_ptr<TimerDriver> MakeTimerDriver(std::function<void()> onTick);
  // Where failures of a tick go (the service-mode error handler); ignored when unset.
  void SetErrorHandler(std::function<void(const std::exception&)> handler) { onError_ = std::move(handler); }
  // What the main thread does once the service runs, and when its stop begins (the network
  // watch). The Post calls may come from any thread; the hooks run on the main thread.
  void SetServiceHooks(std::function<void()> running, std::function<void()> stopping) {
    onRunning_ = std::move(running);
    onStopping_ = std::move(stopping);
  }
  void PostRunning() const;
  void PostStopping() const;
  // Hands a failure that was caught on the way to that handler, as if it had reached the loop.
  void ReportError(const std::exception& failure) const {
    if (onError_) onError_(failure);
  }

 private:
  class Driver;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  UINT_PTR nextTimerId_ = 1;
  std::map<UINT_PTR, std::function<void()>> ticks_;
  std::function<void(const std::exception&)> onError_;
  std::function<void()> onRunning_;
  std::function<void()> onStopping_;
};

}  // namespace korvex::win32
