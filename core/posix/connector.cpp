// The address client's TCP connections over POSIX sockets. Errors are reported with the numbers
// Winsock gives them, so that both builds show the same messages.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "core/socket_error.h"
#include "core/stream.h"

namespace korvex {

namespace {

std::uint32_t WinsockNumber(int error) {
  switch (error) {
    case ECONNREFUSED: return wsa::kConnectionRefused;
    case ETIMEDOUT:
    case EAGAIN: return wsa::kTimedOut;  // an expired SO_RCVTIMEO / SO_SNDTIMEO
    case ECONNRESET:
    case EPIPE: return wsa::kConnectionReset;
    case ENETUNREACH: return wsa::kNetworkUnreachable;
    case EHOSTUNREACH: return wsa::kHostUnreachable;
    case ECONNABORTED: return wsa::kConnectionAborted;
    case ENETDOWN: return wsa::kNetworkDown;
    case ENETRESET: return wsa::kNetworkReset;
    case EADDRINUSE: return wsa::kAddressInUse;
    case EADDRNOTAVAIL: return wsa::kAddressNotAvailable;
    case EACCES:
    case EPERM: return wsa::kAccessDenied;
    case ENOBUFS:
    case ENOMEM: return wsa::kNoBuffers;
    case ENOTCONN: return wsa::kNotConnected;
    case ESHUTDOWN: return wsa::kShutDown;
    case EHOSTDOWN: return wsa::kHostDown;
    default: return static_cast<std::uint32_t>(error);  // rare; the errno itself, without reason
  }
}

[[noreturn]] void ThrowErrno(int error) { ThrowSocketError(WinsockNumber(error)); }

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }

 private:
  int fd_;
};

class PosixSocket final : public Socket {
 public:
  PosixSocket(int fd, std::uint32_t timeoutMs) : fd_(fd), timeoutMs_(timeoutMs) {}

  void Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      WaitFor(POLLOUT);
      const ssize_t sent = ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(errno);
      }
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
  }

  std::size_t Read(char* buffer, std::size_t size) override {
    for (;;) {
      WaitFor(POLLIN);
      const ssize_t received = ::recv(fd_.Get(), buffer, size, 0);
      if (received >= 0) return static_cast<std::size_t>(received);
      if (errno != EINTR) ThrowErrno(errno);
    }
  }

  bool Stale() override {
    // Readable at all: unread bytes, the peer's FIN or a reset.
    pollfd entry{fd_.Get(), POLLIN | POLLRDHUP, 0};
    while (::poll(&entry, 1, 0) < 0) {
      if (errno != EINTR) return true;
    }
    return (entry.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) != 0;
  }

  void SetDeadline(Deadline deadline) override { deadline_ = deadline; }

  std::intptr_t NativeHandle() const override { return fd_.Get(); }

 private:
  // Waits until the socket is ready for `events`, no longer than the deadline. While the
  // deadline lies beyond the socket's own time-out, that time-out alone bounds the call.
  void WaitFor(short events) {
    if (!deadline_) return;
    for (;;) {
      const auto left = *deadline_ - std::chrono::steady_clock::now();
      if (left <= Deadline::duration::zero()) ThrowSocketError(wsa::kTimedOut);
      // Rounded up, so that the wait does not end just short of the deadline and spin.
      const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
      if (timeoutMs_ != 0 && ms >= timeoutMs_) return;
      pollfd entry{fd_.Get(), events, 0};
      const int ready = ::poll(&entry, 1, static_cast<int>(std::min<std::int64_t>(ms, 1 << 30)));
      if (ready > 0) return;
      if (ready < 0 && errno != EINTR) ThrowErrno(errno);
    }
  }

  FileDescriptor fd_;
  std::uint32_t timeoutMs_;
  std::optional<Deadline> deadline_;
};

in_addr Resolve(const std::string& host) {
  in_addr address{};
  if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return address;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  // Every failure of the name lookup reads as "host not found" to the user, as under Winsock.
  if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    ThrowSocketError(wsa::kHostNotFound);
  }
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

void SetFlag(int fd, int level, int option, const void* value, socklen_t size) {
  if (::setsockopt(fd, level, option, value, size) != 0) ThrowErrno(errno);
}

// Connects with the socket non-blocking, so that the attempt ends after `timeoutMs` instead of
// the kernel's minutes of SYN retries.
void ConnectWithin(int fd, const sockaddr_in& target, std::uint32_t timeoutMs) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) ThrowErrno(errno);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) ThrowErrno(errno);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      int wait = -1;
      if (timeoutMs != 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        wait = static_cast<int>(std::max<std::int64_t>(left.count(), 0));
      }
      pollfd entry{fd, POLLOUT, 0};
      const int ready = ::poll(&entry, 1, wait);
      if (ready > 0) break;
      if (ready == 0) ThrowSocketError(wsa::kTimedOut);
      if (errno != EINTR) ThrowErrno(errno);
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) ThrowErrno(errno);
    if (error != 0) ThrowErrno(error);
  }
  if (::fcntl(fd, F_SETFL, flags) != 0) ThrowErrno(errno);
}

class PosixConnector final : public Connector {
 public:
  explicit PosixConnector(std::uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}

  std::unique_ptr<Socket> Connect(const std::string& host, std::uint16_t port) override {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr = Resolve(host);

    auto socket = std::make_unique<PosixSocket>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), timeoutMs_);
    const int fd = static_cast<int>(socket->NativeHandle());
    if (fd < 0) ThrowErrno(errno);

    // Without it a request head and the TLS records after it wait for the peer's delayed ACK.
    const int on = 1;
    SetFlag(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit{};
    limit.tv_sec = timeoutMs_ / 1000;
    limit.tv_usec = static_cast<suseconds_t>(timeoutMs_ % 1000) * 1000;
    SetFlag(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    SetFlag(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    ConnectWithin(fd, target, timeoutMs_);
    return socket;
  }

 private:
  std::uint32_t timeoutMs_;
};

}  // namespace

std::unique_ptr<Connector> MakeSystemConnector(std::uint32_t timeoutMs) {
  return std::make_unique<PosixConnector>(timeoutMs);
}

}  // namespace korvex
