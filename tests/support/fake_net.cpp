#include "tests/support/fake_net.h"

#include <algorithm>
#include <utility>

#include "core/socket_error.h"

namespace korvex::testing {
namespace {

class FakeSocket : public Socket {
 public:
  FakeSocket(std::shared_ptr<FakeConnection> connection, FakeConnector& connector)
      : connection_(std::move(connection)), connector_(connector) {}
  ~FakeSocket() override { connection_->closedByClient = true; }

  void Write(std::string_view bytes) override {
    if (connection_->ended) throw SocketError(wsa::kConnectionReset);
    connection_->writes.emplace_back(bytes);
    if (connection_->replies.empty()) return;
    current_ = std::move(connection_->replies.front());
    connection_->replies.pop_front();
    connection_->pending += current_->bytes;
  }

  std::size_t Read(char* buffer, std::size_t size) override {
    connector_.now += connector_.readDelay;
    if (connection_->deadline && connector_.now >= *connection_->deadline) throw SocketError(wsa::kTimedOut);
    if (!connection_->pending.empty()) {
      const std::size_t n = std::min({size, connector_.readChunk, connection_->pending.size()});
      std::copy_n(connection_->pending.data(), n, buffer);
      connection_->pending.erase(0, n);
      return n;
    }
    const FakeReply::Then then = current_ ? current_->then : FakeReply::Then::kStayOpen;
    if (then != FakeReply::Then::kStayOpen) connection_->ended = then;
    switch (then) {
      case FakeReply::Then::kClose:
        return 0;
      case FakeReply::Then::kReset:
        throw SocketError(wsa::kConnectionReset);
      case FakeReply::Then::kStayOpen:
        break;
    }
    throw SocketError(wsa::kTimedOut);
  }

  bool Stale() override {
    if (connection_->peerClosedWhileIdle || !connection_->pending.empty()) return true;
    return current_ && current_->then != FakeReply::Then::kStayOpen;
  }

  void SetDeadline(Deadline deadline) override { connection_->deadline = deadline; }

  std::intptr_t NativeHandle() const override { return -1; }

  FakeConnection& Connection() { return *connection_; }

 private:
  std::shared_ptr<FakeConnection> connection_;
  FakeConnector& connector_;
  std::optional<FakeReply> current_;
};

// Passes bytes through; owns the socket it was handed.
class PassThroughStream : public Stream {
 public:
  explicit PassThroughStream(std::unique_ptr<Socket> socket) : socket_(std::move(socket)) {}
  void Write(std::string_view bytes) override { socket_->Write(bytes); }
  std::size_t Read(char* buffer, std::size_t size) override { return socket_->Read(buffer, size); }
  bool Stale() override { return socket_->Stale(); }
  void SetDeadline(Deadline deadline) override { socket_->SetDeadline(deadline); }

 private:
  std::unique_ptr<Socket> socket_;
};

}  // namespace

std::shared_ptr<FakeConnection> FakeConnector::Script(std::vector<FakeReply> replies) {
  auto connection = std::make_shared<FakeConnection>();
  connection->replies.assign(std::make_move_iterator(replies.begin()), std::make_move_iterator(replies.end()));
  scripted_.push_back(connection);
  return connection;
}

void FakeConnector::FailNextConnect(KorError error) { connectFailure_ = std::move(error); }

std::unique_ptr<Socket> FakeConnector::Connect(const std::string& host, std::uint16_t port) {
  if (connectFailure_) {
    const KorError error = *std::move(connectFailure_);
    connectFailure_.reset();
    throw error;
  }
  if (scripted_.empty()) throw SocketError(wsa::kConnectionRefused);
  auto connection = std::move(scripted_.front());
  scripted_.pop_front();
  connection->host = host;
  connection->port = port;
  opened_.push_back(connection);
  return std::make_unique<FakeSocket>(connection, *this);
}

std::unique_ptr<Stream> FakeTlsHandler::Handshake(std::unique_ptr<Socket> socket, const std::string& serverName) {
  ++handshakes;
  if (failure) {
    const KorError error = *std::move(failure);
    failure.reset();
    throw error;
  }
  auto& connection = static_cast<FakeSocket&>(*socket).Connection();
  connection.tls = true;
  connection.serverName = serverName;
  return std::make_unique<PassThroughStream>(std::move(socket));
}

}  // namespace korvex::testing
