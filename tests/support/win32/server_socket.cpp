// The scripted server's sockets on Windows (Winsock). Server-side TLS is not offered here: the
// Windows build's TLS tests talk to openssl s_server peers that a ctest fixture starts.

#include "core/win32/windows_api.h"

#include <stdexcept>

#include "tests/support/scripted_server.h"

namespace korvex::testing {

namespace {

using win32::ScopedSocket;

bool WaitReadable(SOCKET socket, int waitMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, &limit) > 0;
}

class PlainConnection final : public ServerConnection {
 public:
  explicit PlainConnection(ScopedSocket socket) : socket_(std::move(socket)) {}

  int Receive(char* buffer, int size, int waitMs) override {
    if (!WaitReadable(socket_.Get(), waitMs)) return -1;
    const int received = ::recv(socket_.Get(), buffer, size, 0);
    return received < 0 ? 0 : received;
  }
  bool Send(const std::string& bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const int sent = ::send(socket_.Get(), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
      if (sent <= 0) return false;
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }
  void Reset() override {
    const linger hard{1, 0};
    ::setsockopt(socket_.Get(), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
  }

 private:
  ScopedSocket socket_;
};

class WinsockListener final : public ServerListener {
 public:
  WinsockListener() {
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
    socket_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (!socket_ || ::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(socket_.Get(), 16) != 0 ||
        ::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ::ntohs(address.sin_port);
  }
  ~WinsockListener() override {
    socket_.Reset();
    ::WSACleanup();
  }

  std::uint16_t Port() const override { return port_; }

  std::unique_ptr<ServerConnection> Accept(int waitMs) override {
    if (!WaitReadable(socket_.Get(), waitMs)) return nullptr;
    ScopedSocket accepted(::accept(socket_.Get(), nullptr, nullptr));
    if (!accepted) return nullptr;
    return std::make_unique<PlainConnection>(std::move(accepted));
  }

  std::unique_ptr<ServerConnection> StartTls(std::unique_ptr<ServerConnection>, const ServerTls&,
                                             std::string*) override {
    throw std::logic_error("the Windows build's TLS peers are the tls_servers fixture's");
  }

 private:
  ScopedSocket socket_;
  std::uint16_t port_ = 0;
};

}  // namespace

bool TcpNoDelay(std::intptr_t socket) {
  DWORD value = 0;
  int size = sizeof value;
  return ::getsockopt(static_cast<SOCKET>(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&value),
                      &size) == 0 &&
         value != 0;
}

std::unique_ptr<ServerListener> ListenOnLoopback() { return std::make_unique<WinsockListener>(); }

}  // namespace korvex::testing
