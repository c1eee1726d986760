#pragma once
// An in-memory network for address-client tests: a Connector whose connections record every
// write byte for byte and answer each request with scripted reply bytes, and a TLS handler that
// records its handshakes and passes the bytes through.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/stream.h"
#include "core/tls.h"

namespace korvex::testing {

// The server's answer to one request: its bytes, then what the server does with the connection.
struct FakeReply {
  enum class Then {
    kStayOpen,  // nothing more arrives: a further read fails like an expired time-out (10060)
    kClose,     // orderly close: reads give 0, Stale() is true
    kReset,     // reset: reads fail with socket error 10054, Stale() is true
  };
  std::string bytes;
  Then then = Then::kStayOpen;
};

// What one connection saw; shared between the connector (for the test) and the socket.
struct FakeConnection {
  std::string host;
  std::uint16_t port = 0;
  std::vector<std::string> writes;  // one entry per Write call
  std::deque<FakeReply> replies;    // still to send, one per write
  std::string pending;              // sent by the server, not yet read
  std::optional<FakeReply::Then> ended;  // set once a kClose or kReset reply has been sent
  bool tls = false;                 // a FakeTlsHandler ran its handshake on it
  std::string serverName;           // the handshake's server name
  bool closedByClient = false;      // the client released the stream
  // Set by a test to make the server close an idle connection between requests.
  bool peerClosedWhileIdle = false;
  std::optional<Deadline> deadline;  // the last one the client set
};

class FakeConnector : public Connector {
 public:
  // The next Connect opens a connection that answers with these replies, in order.
  std::shared_ptr<FakeConnection> Script(std::vector<FakeReply> replies);
  // The next Connect throws this (before any scripted connection is used).
  void FailNextConnect(KorError error);

  std::unique_ptr<Socket> Connect(const std::string& host, std::uint16_t port) override;

  // Every connection opened so far, in order.
  const std::vector<std::shared_ptr<FakeConnection>>& Opened() const { return opened_; }
  // At most this many bytes per Read; 1 feeds the client byte by byte.
  std::size_t readChunk = 1 << 20;
  // A steady clock of the test's own, which every Read moves on by readDelay; a Read that finds
  // it at or past the connection's deadline fails with socket error 10060, as a real one does.
  Deadline now{};
  std::chrono::milliseconds readDelay{0};

 private:
  std::deque<std::shared_ptr<FakeConnection>> scripted_;
  std::vector<std::shared_ptr<FakeConnection>> opened_;
  std::optional<KorError> connectFailure_;
};

class FakeTlsHandler : public TlsHandler {
 public:
  std::unique_ptr<Stream> Handshake(std::unique_ptr<Socket> socket, const std::string& serverName) override;
  // The next handshake throws this.
  std::optional<KorError> failure;
  int handshakes = 0;
};

}  // namespace korvex::testing
