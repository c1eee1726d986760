#include "core/win32/network_watch.h"

#include <iphlpapi.h>

#include <utility>

#include "core/error.h"

namespace korvex::win32 {

AddressChangeWatch::AddressChangeWatch(std::function<void()> onChange) : onChange_(std::move(onChange)) {}

AddressChangeWatch::~AddressChangeWatch() { Stop(); }

void AddressChangeWatch::Start() {
  if (started_) return;
  if (!event_) {
    event_.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event_) throw KorError(kNetworkWatchFailed, ::GetLastError());
  }
  Arm();
  started_ = true;
}

void AddressChangeWatch::Stop() {
  if (!started_) return;
  started_ = false;
  ::CancelIPChangeNotify(&overlapped_);
  ::ResetEvent(event_.Get());
}

void AddressChangeWatch::Arm() {
  ::ResetEvent(event_.Get());
  overlapped_ = OVERLAPPED{};
  overlapped_.hEvent = event_.Get();
  // The handle it returns belongs to the system and must not be closed.
  HANDLE handle = nullptr;
  const DWORD result = ::NotifyAddrChange(&handle, &overlapped_);
  if (result != ERROR_IO_PENDING) {
    started_ = false;
    throw KorError(kNetworkWatchFailed, result);
  }
}

void AddressChangeWatch::Signalled() {
  if (!started_) return;
  Arm();
  onChange_();
}

int RunMessageLoop(AddressChangeWatch& watch, const std::function<void(MSG&)>& dispatch,
                   const std::function<void(const std::exception&)>& onError) {
  MSG message{};
  for (;;) {
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return static_cast<int>(message.wParam);
      dispatch(message);
    }
    HANDLE event = watch.Event();
    const DWORD count = event != nullptr ? 1 : 0;
    // MWMO_INPUTAVAILABLE: input that arrived before the wait, but was not yet read, ends it too.
    const DWORD woken = ::MsgWaitForMultipleObjectsEx(count, &event, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (count == 1 && woken == WAIT_OBJECT_0) {
      try {
        watch.Signalled();
      } catch (const std::exception& failure) {
        onError(failure);
      }
    }
  }
}

}  // namespace korvex::win32
