#pragma once
// The address client (HttpClient) through the system's sockets against the raw scripted server,
// the same in both builds. Included by one test program of each build.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/http_client.h"
#include "core/http_response.h"
#include "core/socket_error.h"
#include "core/stream.h"
#include "core/url.h"
#include "tests/support/expect_error.h"
#include "tests/support/scripted_server.h"

namespace korvex::testing {

inline constexpr std::uint32_t kLoopbackTimeoutMs = 300;

inline Text LocalUrl(const ScriptedServer& server, const std::string& pathAndQuery) {
  return FromUtf8("http://localhost:" + std::to_string(server.Port()) + pathAndQuery);
}

// The message of the failure a Get throws, or nothing when it returns.
inline std::optional<Text> FailureOf(HttpClient& client, const Text& url) {
  const std::optional<KorError> error = KorErrorOf([&] { client.Get(url); });
  if (!error) return std::nullopt;
  return error->Message();
}

// The request head's bytes are pinned on purpose: header order, no other headers, "?" for
// characters above 127, a blank left as it is, the fragment dropped.
TEST(AddressClientLoopback, RequestHeadGoesOutExactly) {
  ScriptedServer server({{{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, ConnectionScript::Then::kKeepOpen}});
  auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
  HttpClient client(*connector, kLibraryUserAgent);

  EXPECT_EQ(client.Get(LocalUrl(server, "/ip.php?a=\xC3\xA4&b=c d#frag")), u"ok");
  const std::string port = std::to_string(server.Port());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].bytes,
            "GET /ip.php?a=?&b=c d HTTP/1.1\r\n"
            "Host: localhost:" + port + "\r\n"
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
            "\r\n");
}

TEST(AddressClientLoopback, AnswersAreFramedAndClassifiedOffTheWire) {
  using Then = ConnectionScript::Then;
  struct Case {
    const char* name;
    ConnectionScript script;
    std::optional<Text> body;     // the Get returns this...
    std::optional<Text> failure;  // ...or fails with this message
  };
  const Case kCases[] = {
      {"content-length", {{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"}, Then::kKeepOpen}, u"hello", {}},
      {"chunked",
       {{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhel\r\n2\r\nlo\r\n0\r\n\r\n"}, Then::kKeepOpen},
       u"hello", {}},
      {"until close", {{"HTTP/1.0 200 OK\r\n\r\nhello"}, Then::kClose}, u"hello", {}},
      {"close before the announced length",
       {{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhel"}, Then::kClose}, u"hel", {}},
      {"interim answers first",
       {{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: y\r\n\r\n"
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"},
        Then::kKeepOpen},
       u"ok", {}},
      {"101 ends the request", {{"HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n"}, Then::kKeepOpen}, u"", {}},
      {"302 is not followed",
       {{"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"}, Then::kKeepOpen}, {},
       u"HTTP/1.1 302 Found"},
      {"404", {{"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope"}, Then::kKeepOpen}, {},
       u"HTTP/1.1 404 Not Found"},
      {"closed before the status line", {{""}, Then::kClose}, {}, kConnectionClosedGracefully},
      {"reset before the status line", {{""}, Then::kReset}, {}, SocketErrorMessage(wsa::kConnectionReset)},
      {"silent server", {{""}, Then::kKeepOpen}, {}, SocketErrorMessage(wsa::kTimedOut)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server({c.script});
    auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
    HttpClient client(*connector, kLibraryUserAgent);
    std::optional<Text> body;
    const std::optional<KorError> error = KorErrorOf([&] { body = client.Get(LocalUrl(server, "/ip.php")); });
    if (error) {
      EXPECT_EQ(std::optional<Text>(error->Message()), c.failure);
    } else {
      EXPECT_EQ(body, c.body);
      EXPECT_FALSE(c.failure) << "no failure";
    }
    EXPECT_EQ(server.Requests().size(), 1u) << "one request, no retry and no redirect";
  }
}

TEST(AddressClientLoopback, ReusesAnOpenConnectionAndOpensANewOneAfterAClose) {
  using Then = ConnectionScript::Then;
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  struct Case {
    const char* name;
    std::vector<ConnectionScript> scripts;
    std::vector<int> connectionOfEachRequest;
  };
  const Case kCases[] = {
      {"kept open", {{{ok, ok}, Then::kKeepOpen}}, {0, 0}},
      {"answer asks to close", {{{"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok"}, Then::kClose},
                                {{ok}, Then::kKeepOpen}},
       {0, 1}},
      {"HTTP/1.0 without keep-alive", {{{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}, Then::kKeepOpen},
                                       {{ok}, Then::kKeepOpen}},
       {0, 1}},
      // The server drops the idle connection between the requests without a word.
      {"server closed it while idle", {{{ok}, Then::kClose}, {{ok}, Then::kKeepOpen}}, {0, 1}},
      // ...or with a 408 first, which must not be taken for the next request's answer.
      {"server answered nothing and closed while idle",
       {{{ok}, Then::kClose, "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"},
        {{ok}, Then::kKeepOpen}},
       {0, 1}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.scripts);
    auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
    HttpClient client(*connector, kLibraryUserAgent);
    EXPECT_EQ(client.Get(LocalUrl(server, "/ip.php")), u"ok");
    server.ReleaseIdleBytes();  // only now: the client has read the first answer
    if (c.scripts.size() > 1) {
      ASSERT_TRUE(server.WaitUntilServed(1));  // the first connection has closed
    }
    EXPECT_EQ(client.Get(LocalUrl(server, "/update.php")), u"ok");
    std::vector<int> connections;
    for (const ReceivedRequest& request : server.Requests()) connections.push_back(request.connection);
    EXPECT_EQ(connections, c.connectionOfEachRequest);
  }
}

}  // namespace korvex::testing
