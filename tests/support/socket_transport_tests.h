#pragma once
// The system Connector's behaviour over real loopback sockets, the same in both builds. Included
// by one test program of each build (tests/native, tests/wine).

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "core/socket_error.h"
#include "core/stream.h"
#include "tests/support/expect_error.h"
#include "tests/support/scripted_server.h"

namespace korvex::testing {

// Short, so that a time-out test ends quickly; the product uses kSocketTimeoutMs.
inline constexpr std::uint32_t kShortTimeoutMs = 300;

// A port on 127.0.0.1 where nobody listens (a server that has just stopped).
inline std::uint16_t ClosedPort() {
  ScriptedServer server(std::vector<ConnectionScript>{});
  return server.Port();
}

// Reads until the peer closes; fails the test on a socket error.
inline std::string ReadToEnd(Stream& stream) {
  std::string all;
  char buffer[1000];
  while (const std::size_t read = stream.Read(buffer, sizeof buffer)) all.append(buffer, read);
  return all;
}

// The socket error a call throws, or nothing when it does not throw one.
inline std::optional<std::uint32_t> SocketErrorOf(const std::function<void()>& call) {
  const std::optional<KorError> error = KorErrorOf(call);
  if (!error) return std::nullopt;
  EXPECT_EQ(error->Message(), SocketErrorMessage(error->OsCode()));
  return error->OsCode();
}

TEST(SystemConnector, FailuresCarryWinsockNumbers) {
  using Then = ConnectionScript::Then;
  struct Case {
    const char* name;
    std::optional<ConnectionScript> server;  // none: connect to a closed port or a bad name
    const char* host;
    std::uint32_t expected;
  };
  const Case kCases[] = {
      {"refused", std::nullopt, "127.0.0.1", wsa::kConnectionRefused},
      {"unknown host", std::nullopt, "korvex-no-such-host.invalid", wsa::kHostNotFound},
      {"silent server", ConnectionScript{{""}, Then::kKeepOpen}, "127.0.0.1", wsa::kTimedOut},
      {"reset after the request", ConnectionScript{{""}, Then::kReset}, "127.0.0.1", wsa::kConnectionReset},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::optional<ScriptedServer> server;
    if (c.server) server.emplace(std::vector<ConnectionScript>{*c.server});
    const std::uint16_t port = server ? server->Port() : ClosedPort();
    auto connector = MakeSystemConnector(kShortTimeoutMs);
    const auto error = SocketErrorOf([&] {
      auto socket = connector->Connect(c.host, port);
      socket->Write("GET / HTTP/1.1\r\n\r\n");
      char byte;
      socket->Read(&byte, 1);
    });
    EXPECT_EQ(error, c.expected);
  }
}

TEST(SystemConnector, ResolvesNamesAndCarriesBytesExactlyBothWays) {
  std::string body(300000, 'x');  // more than one read and one socket buffer
  for (std::size_t i = 0; i < body.size(); i += 1000) body[i] = static_cast<char>('a' + i / 1000 % 26);
  const std::string head = "GET /a?b=\xE4 c HTTP/1.1\r\nHost: localhost\r\n\r\n";
  ScriptedServer server({{{body}, ConnectionScript::Then::kClose}});

  auto socket = MakeSystemConnector(kShortTimeoutMs)->Connect("localhost", server.Port());
  socket->Write(head);
  EXPECT_EQ(ReadToEnd(*socket), body);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].bytes, head);
}

// A write into a connection the peer has reset fails with a socket error; on Linux it must not
// raise SIGPIPE, which would end the whole program.
TEST(SystemConnector, WritingIntoAResetConnectionFails) {
  ScriptedServer server({{{""}, ConnectionScript::Then::kReset}});
  auto socket = MakeSystemConnector(kShortTimeoutMs)->Connect("127.0.0.1", server.Port());
  socket->Write("GET / HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(server.WaitUntilServed(1));
  const std::string block(65536, 'x');
  const auto error = SocketErrorOf([&] {
    for (int i = 0; i < 100; ++i) socket->Write(block);
  });
  EXPECT_EQ(error, wsa::kConnectionReset);
  // Once the reset has been reported, Linux answers further writes with EPIPE and SIGPIPE.
  EXPECT_EQ(SocketErrorOf([&] { socket->Write(block); }), wsa::kConnectionReset);
}

TEST(SystemConnector, SetsNoDelayOnEveryConnection) {
  ScriptedServer server(std::vector<ConnectionScript>(2));
  auto connector = MakeSystemConnector();
  for (int i = 0; i < 2; ++i) {
    auto socket = connector->Connect("127.0.0.1", server.Port());
    EXPECT_TRUE(TcpNoDelay(socket->NativeHandle()));
  }
}

TEST(SystemConnector, StaleSeesCloseResetAndUnreadBytesButNotAnIdlePeer) {
  using Then = ConnectionScript::Then;
  struct Case {
    const char* name;
    ConnectionScript script;
    bool closed;
  };
  const Case kCases[] = {
      {"idle", {{""}, Then::kKeepOpen}, false},
      // Nobody asked for these bytes; they may hide a FIN behind them.
      {"unread data waiting", {{"HTTP/1.1 408 Request Timeout\r\n"}, Then::kKeepOpen}, true},
      {"closed", {{""}, Then::kClose}, true},
      {"reset", {{""}, Then::kReset}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server({c.script});
    auto socket = MakeSystemConnector(kShortTimeoutMs)->Connect("127.0.0.1", server.Port());
    socket->Write("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(server.WaitUntilServed(1));
    // The server has acted; its FIN or RST reaches us within moments on loopback.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool closed = socket->Stale();
    while (c.closed && !closed && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
      closed = socket->Stale();
    }
    EXPECT_EQ(closed, c.closed);
  }
}

// The bound of a whole request: a read waits no longer than the deadline, even though the socket's
// own time-out is far longer, and nothing goes out after it.
TEST(SystemConnector, DeadlineEndsReadsAndWrites) {
  ScriptedServer server({{{""}, ConnectionScript::Then::kKeepOpen}});
  auto socket = MakeSystemConnector(kSocketTimeoutMs)->Connect("127.0.0.1", server.Port());
  socket->Write("GET / HTTP/1.1\r\n\r\n");
  socket->SetDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(kShortTimeoutMs));
  char byte;
  EXPECT_EQ(SocketErrorOf([&] { socket->Read(&byte, 1); }), wsa::kTimedOut);
  EXPECT_EQ(SocketErrorOf([&] { socket->Write("x"); }), wsa::kTimedOut);
}

}  // namespace korvex::testing
