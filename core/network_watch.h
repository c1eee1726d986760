#pragma once
// "The network changed": the platform's notifications of new, lost or changed addresses and
// interfaces, delivered on the thread that runs the program's loop. Windows: NotifyAddrChange
// with an event the loop waits on; Linux: a netlink socket. Tests pass a fake.

namespace korvex {

class NetworkWatch {
 public:
  virtual ~NetworkWatch() = default;
  // Registers for the notifications. Throws KorError with the system's code when refused.
  virtual void Start() = 0;
  // Unregisters; nothing is reported once it has returned. Stopping twice changes nothing.
  virtual void Stop() = 0;
};

}  // namespace korvex
