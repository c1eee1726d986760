#pragma once
// A raw TCP server on 127.0.0.1 for wire tests. It records the exact request bytes it receives
// and answers with exact scripted bytes, malformed ones included, so that hand-written sockets
// live here and nowhere else. Each accepted connection runs on its own thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvex::testing {

// What the server does with one connection, in accept order.
struct ConnectionScript {
  enum class Then {
    kKeepOpen,  // hold the connection until the client closes it (a silent server: no replies)
    kClose,     // orderly close (FIN)
    kReset,     // abortive close (RST)
  };
  // Each reply goes out once one more request head (up to the empty line) has arrived; an empty
  // reply sends nothing. Connections beyond the scripts are closed at once.
  std::vector<std::string> replies;
  Then then = Then::kKeepOpen;
  // Sent after the replies, unasked, once the test calls ReleaseIdleBytes(): what a server says
  // on a connection it is about to drop (a 408).
  std::string idleBytes = {};
  // Sent after the replies again and again, for as long as the client takes it: a body without
  // end. Empty for none.
  std::string endless = {};
};

// Server-side TLS for the scripted server (Linux build only).
struct ServerTls {
  std::string certFile;
  std::string keyFile;
  bool tls11Only = false;  // offer TLS 1.1 and nothing newer
};

// One request head as received, with the index of the connection it came on.
struct ReceivedRequest {
  int connection = 0;
  std::string bytes;
};

// The platform's listening and accepted sockets (tests/support/posix, tests/support/win32).
class ServerConnection {
 public:
  virtual ~ServerConnection() = default;
  // Bytes received, 0 when the client closed, -1 when nothing came within waitMs or on error.
  virtual int Receive(char* buffer, int size, int waitMs) = 0;
  virtual bool Send(const std::string& bytes) = 0;
  virtual void Reset() = 0;  // RST instead of FIN at close
};

class ServerListener {
 public:
  virtual ~ServerListener() = default;
  virtual std::uint16_t Port() const = 0;
  // The next connection, or null when none arrived within waitMs.
  virtual std::unique_ptr<ServerConnection> Accept(int waitMs) = 0;
  // Runs the server side of a TLS handshake; the SNI name goes to *serverName. Null on failure.
  virtual std::unique_ptr<ServerConnection> StartTls(std::unique_ptr<ServerConnection> plain,
                                                     const ServerTls& tls, std::string* serverName) = 0;
};
std::unique_ptr<ServerListener> ListenOnLoopback();

// A file of tools/make-test-certs.sh, made by the build: "ca.pem", "localhost.pem", ...
std::string TestCertFile(const std::string& name);

// Whether TCP_NODELAY is set on a client socket (Socket::NativeHandle()).
bool TcpNoDelay(std::intptr_t socket);

class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<ConnectionScript> scripts, ServerTls tls = {});
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;
  ~ScriptedServer();

  std::uint16_t Port() const { return port_; }
  std::string Url(const std::string& pathAndQuery) const;  // http(s)://localhost:PORT...

  std::vector<ReceivedRequest> Requests() const;
  int Connections() const;
  // The SNI name of each TLS connection, in accept order ("" when none was sent).
  std::vector<std::string> ServerNames() const;
  // Waits until `count` connections have finished their script (or a deadline passes).
  bool WaitUntilServed(int count, std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
  // Lets the connections send their idleBytes.
  void ReleaseIdleBytes();

 private:
  void AcceptLoop();
  void Serve(int index, std::unique_ptr<ServerConnection> connection);

  std::vector<ConnectionScript> scripts_;
  ServerTls tls_;
  std::unique_ptr<ServerListener> listener_;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  bool idleReleased_ = false;
  int accepted_ = 0;
  int served_ = 0;
  std::vector<ReceivedRequest> requests_;
  std::vector<std::string> serverNames_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace korvex::testing
