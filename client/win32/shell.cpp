// Starts programs through ShellExecuteExW; a wait for the started program keeps the calling
// thread's window messages flowing, so the window repaints while "net" runs.
#include "core/win32/windows_api.h"

#include <shellapi.h>

#include <chrono>

#include "client/shell.h"

namespace korvex {
namespace {

using win32::ScopedKernelHandle;
using win32::W;

void WaitPumpingMessages(HANDLE process, std::chrono::milliseconds wait) {
  const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(wait.count());
  while (true) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= until) return;
    const DWORD result = ::MsgWaitForMultipleObjects(1, &process, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    if (result != WAIT_OBJECT_0 + 1) return;  // ended, timed out or failed
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // The loop that runs the program must see it too.
        ::PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

class SystemShell final : public Shell {
 public:
  bool Start(const ShellStart& start) override {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = reinterpret_cast<HWND>(start.owner);
    info.lpVerb = W(start.verb);
    info.lpFile = W(start.file);
    info.lpParameters = start.parameters.empty() ? nullptr : W(start.parameters);
    info.lpDirectory = nullptr;
    info.nShow = start.show;
    if (!::ShellExecuteExW(&info)) return false;
    const ScopedKernelHandle process(info.hProcess);
    if (process && start.wait.count() > 0) WaitPumpingMessages(process.Get(), start.wait);
    return true;
  }
};

}  // namespace

std::unique_ptr<Shell> MakeSystemShell() { return std::make_unique<SystemShell>(); }

}  // namespace korvex
