// The scripted server's sockets on Linux, with server-side TLS through OpenSSL linked directly.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/scripted_server.h"

namespace korvex::testing {

namespace {

bool WaitReadable(int fd, int waitMs) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, waitMs) > 0;
}

class PlainConnection final : public ServerConnection {
 public:
  explicit PlainConnection(int fd) : fd_(fd) {}
  ~PlainConnection() override { ::close(fd_); }

  int Receive(char* buffer, int size, int waitMs) override {
    if (!WaitReadable(fd_, waitMs)) return -1;
    const ssize_t received = ::recv(fd_, buffer, static_cast<std::size_t>(size), 0);
    return received < 0 ? 0 : static_cast<int>(received);
  }
  bool Send(const std::string& bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t sent = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }
  void Reset() override {
    const linger hard{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  int Fd() const { return fd_; }

 private:
  int fd_;
};

class TlsConnection final : public ServerConnection {
 public:
  TlsConnection(std::unique_ptr<PlainConnection> plain, SSL_CTX* context, SSL* ssl)
      : plain_(std::move(plain)), context_(context), ssl_(ssl) {}
  ~TlsConnection() override {
    if (!reset_) SSL_shutdown(ssl_);
    SSL_free(ssl_);
    SSL_CTX_free(context_);
  }

  int Receive(char* buffer, int size, int waitMs) override {
    if (SSL_pending(ssl_) == 0 && !WaitReadable(plain_->Fd(), waitMs)) return -1;
    const int received = SSL_read(ssl_, buffer, size);
    if (received > 0) return received;
    return SSL_get_error(ssl_, received) == SSL_ERROR_WANT_READ ? -1 : 0;
  }
  bool Send(const std::string& bytes) override {
    return SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) == static_cast<int>(bytes.size());
  }
  void Reset() override {
    reset_ = true;
    plain_->Reset();
  }

 private:
  std::unique_ptr<PlainConnection> plain_;
  SSL_CTX* context_;
  SSL* ssl_;
  bool reset_ = false;
};

class PosixListener final : public ServerListener {
 public:
  PosixListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd_, 16) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
  }
  ~PosixListener() override { ::close(fd_); }

  std::uint16_t Port() const override { return port_; }

  std::unique_ptr<ServerConnection> Accept(int waitMs) override {
    BlockSigpipe();
    if (!WaitReadable(fd_, waitMs)) return nullptr;
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<PlainConnection>(fd);
  }

  std::unique_ptr<ServerConnection> StartTls(std::unique_ptr<ServerConnection> plain, const ServerTls& tls,
                                             std::string* serverName) override {
    BlockSigpipe();
    std::unique_ptr<PlainConnection> socket(static_cast<PlainConnection*>(plain.release()));
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context) return nullptr;
    if (tls.tls11Only) {
      SSL_CTX_set_security_level(context, 0);
      SSL_CTX_set_min_proto_version(context, TLS1_1_VERSION);
      SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION);
    }
    SSL* ssl = nullptr;
    if (SSL_CTX_use_certificate_chain_file(context, tls.certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, tls.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        !(ssl = SSL_new(context))) {
      SSL_CTX_free(context);
      return nullptr;
    }
    const timeval limit{10, 0};  // a client that never starts its handshake does not hang the test
    ::setsockopt(socket->Fd(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    SSL_set_fd(ssl, socket->Fd());
    const int accepted = SSL_accept(ssl);
    if (const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name)) *serverName = name;
    ERR_clear_error();
    if (accepted != 1) {
      SSL_free(ssl);
      SSL_CTX_free(context);
      return nullptr;
    }
    return std::make_unique<TlsConnection>(std::move(socket), context, ssl);
  }

 private:
  // Only the server's own threads (the acceptor, and the workers it starts) ignore SIGPIPE; the
  // client under test must avoid it by itself.
  static void BlockSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
  }

  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace

bool TcpNoDelay(std::intptr_t socket) {
  int value = 0;
  socklen_t size = sizeof value;
  return ::getsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &value, &size) == 0 && value != 0;
}

std::unique_ptr<ServerListener> ListenOnLoopback() { return std::make_unique<PosixListener>(); }

}  // namespace korvex::testing
