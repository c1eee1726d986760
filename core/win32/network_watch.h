#pragma once
// The network watch of Windows: NotifyAddrChange with an overlapped event, which the thread's
// message loop waits on beside its messages and which is armed again after each signal. Nothing
// crosses threads but that signal; the change is reported on the loop's thread.

#include <exception>
#include <functional>

#include "core/network_watch.h"
#include "core/win32/windows_api.h"

namespace korvex::win32 {

// The failure of a registration, with the system's code.
inline constexpr char16_t kNetworkWatchFailed[] = u"Netzwerkänderungen können nicht verfolgt werden";

class AddressChangeWatch final : public NetworkWatch {
 public:
  explicit AddressChangeWatch(std::function<void()> onChange);
  ~AddressChangeWatch() override;
  AddressChangeWatch(const AddressChangeWatch&) = delete;
  AddressChangeWatch& operator=(const AddressChangeWatch&) = delete;

  void Start() override;
  void Stop() override;

  // What the loop waits on; nullptr while stopped.
  HANDLE Event() const { return started_ ? event_.Get() : nullptr; }
  // The event fired: arms the next notification, then reports the change. Throws KorError when
  // the notification cannot be armed again (the watch is stopped then).
  void Signalled();

 private:
  void Arm();

  std::function<void()> onChange_;
  ScopedKernelHandle event_;
  OVERLAPPED overlapped_{};
  bool started_ = false;
};

// The thread's message loop until WM_QUIT, whose wParam it returns. While `watch` is started, its
// event is served between messages; a failure there goes to `onError`.
int RunMessageLoop(AddressChangeWatch& watch, const std::function<void(MSG&)>& dispatch,
                   const std::function<void(const std::exception&)>& onError);

}  // namespace korvex::win32
