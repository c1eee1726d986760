#include "core/posix/network_watch.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "core/error.h"

namespace korvex::posix {

NetlinkWatch::NetlinkWatch(std::function<void()> onChange) : onChange_(std::move(onChange)) {}

NetlinkWatch::~NetlinkWatch() { Stop(); }

void NetlinkWatch::Start() {
  if (socket_ >= 0) return;
  const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) throw KorError(kNetworkWatchFailed, static_cast<std::uint32_t>(errno));
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    throw KorError(kNetworkWatchFailed, static_cast<std::uint32_t>(error));
  }
  socket_ = fd;
}

void NetlinkWatch::Stop() {
  if (socket_ < 0) return;
  ::close(socket_);
  socket_ = -1;
}

void NetlinkWatch::Readable() {
  bool changed = false;
  alignas(nlmsghdr) char buffer[8192];
  for (;;) {
    if (socket_ < 0) return;
    const ssize_t received = ::recv(socket_, buffer, sizeof buffer, 0);
    if (received < 0) {
      // ENOBUFS: messages were lost, which still means something changed.
      if (errno == ENOBUFS) changed = true;
      if (errno == EINTR || errno == ENOBUFS) continue;
      break;  // EAGAIN: everything read
    }
    if (received == 0) break;
    int length = static_cast<int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, length);
         header = NLMSG_NEXT(header, length)) {
      switch (header->nlmsg_type) {
        case RTM_NEWLINK:
        case RTM_DELLINK:
        case RTM_NEWADDR:
        case RTM_DELADDR:
          changed = true;
          break;
        default:
          break;
      }
    }
  }
  if (changed) onChange_();
}

}  // namespace korvex::posix
