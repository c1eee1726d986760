#include "tests/support/scripted_server.h"

#include <utility>

namespace korvex::testing {

namespace {
constexpr int kSliceMs = 20;  // how often a waiting server thread looks at the stop flag
}

std::string TestCertFile(const std::string& name) { return std::string(KORVEX_TEST_CERTS) + "/" + name; }

ScriptedServer::ScriptedServer(std::vector<ConnectionScript> scripts, ServerTls tls)
    : scripts_(std::move(scripts)), tls_(std::move(tls)), listener_(ListenOnLoopback()) {
  port_ = listener_->Port();
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  acceptor_.join();
  for (std::thread& worker : workers_) worker.join();
}

std::string ScriptedServer::Url(const std::string& pathAndQuery) const {
  return (tls_.certFile.empty() ? "http://localhost:" : "https://localhost:") + std::to_string(port_) +
         pathAndQuery;
}

std::vector<ReceivedRequest> ScriptedServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int ScriptedServer::Connections() const {
  std::lock_guard lock(mutex_);
  return accepted_;
}

std::vector<std::string> ScriptedServer::ServerNames() const {
  std::lock_guard lock(mutex_);
  return serverNames_;
}

bool ScriptedServer::WaitUntilServed(int count, std::chrono::milliseconds deadline) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, deadline, [&] { return served_ >= count; });
}

void ScriptedServer::ReleaseIdleBytes() {
  std::lock_guard lock(mutex_);
  idleReleased_ = true;
  changed_.notify_all();
}

void ScriptedServer::AcceptLoop() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    std::unique_ptr<ServerConnection> connection = listener_->Accept(kSliceMs);
    if (!connection) continue;
    std::lock_guard lock(mutex_);
    const int index = accepted_++;
    workers_.emplace_back([this, index, c = std::move(connection)]() mutable { Serve(index, std::move(c)); });
  }
}

void ScriptedServer::Serve(int index, std::unique_ptr<ServerConnection> connection) {
  const ConnectionScript script = index < static_cast<int>(scripts_.size())
                                      ? scripts_[static_cast<std::size_t>(index)]
                                      : ConnectionScript{{}, ConnectionScript::Then::kClose};
  auto stopping = [this] {
    std::lock_guard lock(mutex_);
    return stopping_;
  };
  auto finish = [this] {
    std::lock_guard lock(mutex_);
    ++served_;
    changed_.notify_all();
  };

  if (!tls_.certFile.empty()) {
    std::string serverName;
    connection = listener_->StartTls(std::move(connection), tls_, &serverName);
    std::lock_guard lock(mutex_);
    serverNames_.push_back(serverName);
    if (!connection) {
      ++served_;
      changed_.notify_all();
      return;
    }
  }

  // Reads one request head; false when the client closed or the server stops first.
  std::string buffered;
  auto nextHead = [&](std::string& head) {
    for (;;) {
      const std::size_t end = buffered.find("\r\n\r\n");
      if (end != std::string::npos) {
        head = buffered.substr(0, end + 4);
        buffered.erase(0, end + 4);
        return true;
      }
      if (stopping()) return false;
      char chunk[4096];
      const int received = connection->Receive(chunk, sizeof chunk, kSliceMs);
      if (received == 0) return false;
      if (received > 0) buffered.append(chunk, static_cast<std::size_t>(received));
    }
  };
  auto record = [&](std::string bytes) {
    std::lock_guard lock(mutex_);
    requests_.push_back({index, std::move(bytes)});
  };

  for (const std::string& reply : script.replies) {
    std::string head;
    if (!nextHead(head)) break;
    record(std::move(head));
    if (!reply.empty() && !connection->Send(reply)) break;
  }
  while (!script.endless.empty() && !stopping() && connection->Send(script.endless)) {
  }
  if (!script.idleBytes.empty()) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return idleReleased_ || stopping_; });
    lock.unlock();
    connection->Send(script.idleBytes);
  }
  switch (script.then) {
    // Closed before it counts as served, so that a test waiting for it sees the FIN or RST.
    case ConnectionScript::Then::kClose:
      connection.reset();
      finish();
      return;
    case ConnectionScript::Then::kReset:
      connection->Reset();
      connection.reset();
      finish();
      return;
    case ConnectionScript::Then::kKeepOpen: {
      finish();
      // Later heads on a held connection are recorded too, unanswered.
      std::string head;
      while (nextHead(head)) record(std::move(head));
      if (!buffered.empty()) record(std::move(buffered));
      return;
    }
  }
}

}  // namespace korvex::testing
