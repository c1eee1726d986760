// The address client's TCP connections over Winsock.

#include "core/win32/windows_api.h"

#include <chrono>
#include <mutex>
#include <optional>

#include "core/socket_error.h"
#include "core/stream.h"

namespace korvex {

namespace {

using win32::ScopedSocket;

[[noreturn]] void ThrowLastSocketError() { ThrowSocketError(static_cast<std::uint32_t>(::WSAGetLastError())); }

// Winsock is started once per process, at the first connection, and stays started.
void StartWinsock() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data)) ThrowSocketError(static_cast<std::uint32_t>(error));
  });
}

class WinsockSocket final : public Socket {
 public:
  WinsockSocket(ScopedSocket socket, std::uint32_t timeoutMs) : socket_(std::move(socket)), timeoutMs_(timeoutMs) {}

  void Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      WaitFor(false);
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30));
      const int sent = ::send(socket_.Get(), bytes.data(), chunk, 0);
      if (sent == SOCKET_ERROR) ThrowLastSocketError();
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
  }

  std::size_t Read(char* buffer, std::size_t size) override {
    WaitFor(true);
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    const int received = ::recv(socket_.Get(), buffer, chunk, 0);
    if (received == SOCKET_ERROR) ThrowLastSocketError();
    return static_cast<std::size_t>(received);
  }

  bool Stale() override {
    // Readable at all: unread bytes (a FIN may wait behind them), the peer's FIN or a reset.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_.Get(), &readable);
    timeval now{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &now) != 0;
  }

  void SetDeadline(Deadline deadline) override { deadline_ = deadline; }

  std::intptr_t NativeHandle() const override { return static_cast<std::intptr_t>(socket_.Get()); }

 private:
  // Waits until the socket is readable (or writable), no longer than the deadline. While the
  // deadline lies beyond the socket's own time-out, that time-out alone bounds the call.
  void WaitFor(bool read) {
    if (!deadline_) return;
    const auto left = *deadline_ - std::chrono::steady_clock::now();
    if (left <= Deadline::duration::zero()) ThrowSocketError(wsa::kTimedOut);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    if (timeoutMs_ != 0 && ms >= timeoutMs_) return;
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_.Get(), &ready);
    timeval limit{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    const int count = ::select(0, read ? &ready : nullptr, read ? nullptr : &ready, nullptr, &limit);
    if (count == SOCKET_ERROR) ThrowLastSocketError();
    if (count == 0) ThrowSocketError(wsa::kTimedOut);
  }

  ScopedSocket socket_;
  std::uint32_t timeoutMs_;
  std::optional<Deadline> deadline_;
};

in_addr Resolve(const std::string& host) {
  in_addr address{};
  if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return address;
  if (host.empty()) ThrowSocketError(wsa::kHostNotFound);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (const int error = ::getaddrinfo(host.c_str(), nullptr, &hints, &found)) {
    ThrowSocketError(static_cast<std::uint32_t>(error));
  }
  if (!found) ThrowSocketError(wsa::kHostNotFound);
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

void SetOption(SOCKET socket, int level, int option, DWORD value) {
  if (::setsockopt(socket, level, option, reinterpret_cast<const char*>(&value), sizeof value) == SOCKET_ERROR) {
    ThrowLastSocketError();
  }
}

// Connects non-blocking and waits in select, so that the attempt ends after `timeoutMs`.
void ConnectWithin(SOCKET socket, const sockaddr_in& target, std::uint32_t timeoutMs) {
  u_long nonBlocking = 1;
  if (::ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) ThrowLastSocketError();
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == SOCKET_ERROR) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) ThrowLastSocketError();
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    const int ready = ::select(0, nullptr, &writable, &failed, timeoutMs ? &limit : nullptr);
    if (ready == SOCKET_ERROR) ThrowLastSocketError();
    if (ready == 0) ThrowSocketError(wsa::kTimedOut);
    if (FD_ISSET(socket, &failed)) {
      int error = 0;
      int size = sizeof error;
      ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
      ThrowSocketError(error ? static_cast<std::uint32_t>(error) : wsa::kConnectionRefused);
    }
  }
  nonBlocking = 0;
  if (::ioctlsocket(socket, FIONBIO, &nonBlocking) == SOCKET_ERROR) ThrowLastSocketError();
}

class WinsockConnector final : public Connector {
 public:
  explicit WinsockConnector(std::uint32_t timeoutMs) : timeoutMs_(timeoutMs) {}

  std::unique_ptr<Socket> Connect(const std::string& host, std::uint16_t port) override {
    StartWinsock();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = ::htons(port);
    target.sin_addr = Resolve(host);

    // Overlapped, as socket() makes it: SO_RCVTIMEO and SO_SNDTIMEO work only on such sockets.
    ScopedSocket socket(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT));
    if (!socket) ThrowLastSocketError();
    // Without it a request head and the TLS records after it wait for the peer's delayed ACK.
    SetOption(socket.Get(), IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, timeoutMs_);
    SetOption(socket.Get(), SOL_SOCKET, SO_SNDTIMEO, timeoutMs_);
    ConnectWithin(socket.Get(), target, timeoutMs_);
    return std::make_unique<WinsockSocket>(std::move(socket), timeoutMs_);
  }

 private:
  std::uint32_t timeoutMs_;
};

}  // namespace

std::unique_ptr<Connector> MakeSystemConnector(std::uint32_t timeoutMs) {
  return std::make_unique<WinsockConnector>(timeoutMs);
}

}  // namespace korvex
