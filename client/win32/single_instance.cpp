// The session's one client on Windows: a named mutex in the "Local\" namespace, and the running
// client's main window, found by its class and caption.
#include "core/win32/windows_api.h"

#include "client/client.h"
#include "client/single_instance.h"
#include "client/win32/client_window.h"

namespace korvex {
namespace {

using win32::ScopedKernelHandle;
using win32::W;

constexpr DWORD kFindRetryMs = 100;

class SystemInstancePlatform final : public InstancePlatform {
 public:
  bool Claim() override {
    mutex_ = ScopedKernelHandle(::CreateMutexW(nullptr, FALSE, W(Text(kInstanceMutexName))));
    // Without a mutex there is no way to tell; a client that runs is better than none.
    if (!mutex_) return true;
    return ::GetLastError() != ERROR_ALREADY_EXISTS;
  }

  bool AskRunningClientToShow(std::chrono::milliseconds wait) override {
    const UINT message = ::RegisterWindowMessageW(W(Text(kShowRunningClientMessage)));
    if (message == 0) return false;
    const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(wait.count());
    // The first client may still be starting, before its window exists.
    for (;;) {
      HWND window = ::FindWindowW(win32::kClientWindowClass, W(Text(kClientCaption)));
      const ULONGLONG now = ::GetTickCount64();
      if (window != nullptr) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        // This start is the user's action, so it may hand the foreground on.
        ::AllowSetForegroundWindow(process);
        DWORD_PTR result = 0;
        const UINT left = now < until ? static_cast<UINT>(until - now) : 1;
        if (::SendMessageTimeoutW(window, message, 0, 0, SMTO_NORMAL, left, &result) != 0 && result != 0) {
          return true;
        }
        // Not taken in time: queued, it is still shown once the client is free again.
        ::PostMessageW(window, message, 0, 0);
        return false;
      }
      if (now >= until) return false;
      ::Sleep(kFindRetryMs);
    }
  }

 private:
  ScopedKernelHandle mutex_;
};

}  // namespace

std::unique_ptr<InstancePlatform> MakeSystemInstancePlatform() { return std::make_unique<SystemInstancePlatform>(); }

}  // namespace korvex
