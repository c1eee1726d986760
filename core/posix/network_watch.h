#pragma once
// The network watch of Linux: a netlink route socket subscribed to link and address changes.
// The owner's loop polls its descriptor and calls Readable; the change is reported from there.

#include <functional>

#include "core/network_watch.h"

namespace korvex::posix {

inline constexpr char16_t kNetworkWatchFailed[] = u"Netzwerkänderungen können nicht verfolgt werden";

class NetlinkWatch final : public NetworkWatch {
 public:
  explicit NetlinkWatch(std::function<void()> onChange);
  ~NetlinkWatch() override;
  NetlinkWatch(const NetlinkWatch&) = delete;
  NetlinkWatch& operator=(const NetlinkWatch&) = delete;

  void Start() override;
  void Stop() override;

  // What the loop polls for reading; -1 while stopped.
  int Descriptor() const { return socket_; }
  // Reads everything pending and reports one change when any of it was about a link or an
  // address.
  void Readable();

 private:
  std::function<void()> onChange_;
  int socket_ = -1;
};

}  // namespace korvex::posix
