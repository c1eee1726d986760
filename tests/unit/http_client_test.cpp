#include "core/http_client.h"

#include <gtest/gtest.h>

#include "core/socket_error.h"
#include "tests/support/expect_error.h"
#include "tests/support/fake_net.h"

namespace korvex {
namespace {

using testing::FakeConnector;
using testing::FakeReply;
using testing::FakeTlsHandler;
using testing::ThrowsKorError;
using Then = FakeReply::Then;

constexpr char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
constexpr char kOkThenClose[] = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok";

class HttpClientTest : public ::testing::Test {
 protected:
  HttpClient MakeClient(Text userAgent = kLibraryUserAgent) {
    return HttpClient(net_, std::move(userAgent), [this] {
      ++implicitHandlers_;
      return implicitTls_;
    });
  }

  FakeConnector net_;
  std::shared_ptr<FakeTlsHandler> implicitTls_ = std::make_shared<FakeTlsHandler>();
  int implicitHandlers_ = 0;
};

TEST_F(HttpClientTest, RequestHeadGoesOutInOneWriteExactlyAsSpelled) {
  auto connection = net_.Script({{kOk}});
  HttpClient client = MakeClient(kClientUserAgent);
  EXPECT_EQ(client.Get(u"http://localhost/ip.php"), u"ok");

  ASSERT_EQ(connection->writes.size(), 1u);
  EXPECT_EQ(connection->writes[0],
            "GET /ip.php HTTP/1.1\r\n"
            "Host: localhost\r\n"
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Korvex Client)\r\n"
            "\r\n");
  EXPECT_EQ(connection->host, "localhost");
  EXPECT_EQ(connection->port, 80);
}

TEST_F(HttpClientTest, RequestLineAndHostFollowTheUrl) {
  struct Case {
    const char16_t* url;
    const char* requestLine;
    const char* hostLine;
    std::uint16_t port;
  };
  static constexpr Case kCases[] = {
      // Nothing is percent-encoded: a blank stays a blank, a character above 127 becomes "?".
      {u"http://localhost/update.php?user=a b&password=\u00E4x&host=h",
       "GET /update.php?user=a b&password=?x&host=h HTTP/1.1", "Host: localhost", 80},
      {u"http://localhost/page#fragment?no", "GET /page HTTP/1.1", "Host: localhost", 80},
      {u"http://localhost:8080/ip.php", "GET /ip.php HTTP/1.1", "Host: localhost:8080", 8080},
      {u"http://localhost:80/ip.php", "GET /ip.php HTTP/1.1", "Host: localhost", 80},
      {u"http://127.0.0.1", "GET / HTTP/1.1", "Host: 127.0.0.1", 80},
      {u"http://localhost?q=1", "GET /?q=1 HTTP/1.1", "Host: localhost", 80},
      {u"HTTP://localhost/A%20b", "GET /A%20b HTTP/1.1", "Host: localhost", 80},
      {u"https://localhost:443/x", "GET /x HTTP/1.1", "Host: localhost", 443},
      {u"https://localhost:80/x", "GET /x HTTP/1.1", "Host: localhost:80", 80},
      {u"https://localhost:8443/x", "GET /x HTTP/1.1", "Host: localhost:8443", 8443},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.url));
    FakeConnector net;
    auto connection = net.Script({{kOk}});
    HttpClient client(net, kLibraryUserAgent, [] { return std::make_shared<FakeTlsHandler>(); });
    client.Get(c.url);
    ASSERT_EQ(connection->writes.size(), 1u);
    const std::string& head = connection->writes[0];
    EXPECT_EQ(head.substr(0, head.find("\r\n")), c.requestLine);
    EXPECT_NE(head.find(std::string("\r\n") + c.hostLine + "\r\n"), std::string::npos) << head;
    EXPECT_EQ(connection->port, c.port);
  }
}

TEST_F(HttpClientTest, UserAgentAboveAsciiIsSentAsQuestionMarks) {
  auto connection = net_.Script({{kOk}});
  HttpClient client = MakeClient(u"Pr\u00FCfer \u20AC");
  client.Get(u"http://localhost/");
  EXPECT_NE(connection->writes[0].find("\r\nUser-Agent: Pr?fer ?\r\n"), std::string::npos);
}

TEST_F(HttpClientTest, UnknownOrMissingProtocolFailsBeforeConnecting) {
  for (const char16_t* url : {u"", u"ftp://localhost/", u"localhost/ip.php", u"://localhost/"}) {
    SCOPED_TRACE(ToUtf8(url));
    HttpClient client = MakeClient();
    EXPECT_TRUE(ThrowsKorError([&] { client.Get(url); }, kUnknownProtocol));
  }
  EXPECT_TRUE(net_.Opened().empty());
}

TEST_F(HttpClientTest, CookiesGoBackOnlyToMatchingUrlsOfTheSameObject) {
  auto first = net_.Script({
      {"HTTP/1.1 200 OK\r\nSet-Cookie: sid=abc; Path=/\r\nSet-Cookie: area=1; Path=/admin\r\n"
       "Content-Length: 0\r\n\r\n"},
      {kOk},
      {kOk},
  });
  auto otherHost = net_.Script({{kOk}});
  auto otherObject = net_.Script({{kOk}});
  HttpClient client = MakeClient();
  client.Get(u"http://localhost/ip.php");
  client.Get(u"http://localhost/update.php?x=1");
  client.Get(u"http://localhost/admin/list");
  client.Get(u"http://127.0.0.1/ip.php");
  HttpClient fresh = MakeClient();
  fresh.Get(u"http://localhost/ip.php");

  ASSERT_EQ(first->writes.size(), 3u);
  EXPECT_EQ(first->writes[0].find("Cookie:"), std::string::npos);
  // The cookie line is the last header.
  const std::string second = first->writes[1];
  const std::string cookieLast = "\r\nCookie: sid=abc\r\n\r\n";
  EXPECT_EQ(second.substr(second.size() - cookieLast.size()), cookieLast);
  EXPECT_NE(first->writes[2].find("\r\nCookie: area=1; sid=abc\r\n\r\n"), std::string::npos) << first->writes[2];
  EXPECT_EQ(otherHost->writes.at(0).find("Cookie:"), std::string::npos);
  EXPECT_EQ(otherObject->writes.at(0).find("Cookie:"), std::string::npos);
}

TEST_F(HttpClientTest, CookiesOfAnErrorAnswerAreKept) {
  auto connection = net_.Script({{"HTTP/1.1 403 Forbidden\r\nSet-Cookie: s=1\r\nContent-Length: 0\r\n\r\n"}, {kOk}});
  HttpClient client = MakeClient();
  EXPECT_THROW(client.Get(u"http://localhost/a"), HttpError);
  client.Get(u"http://localhost/b");
  EXPECT_NE(connection->writes.at(1).find("\r\nCookie: s=1\r\n"), std::string::npos);
}

TEST_F(HttpClientTest, SecondRequestToTheSameHostAndPortReusesAnOpenConnection) {
  auto connection = net_.Script({{kOk}, {kOk}});
  HttpClient client = MakeClient();
  client.Get(u"http://localhost/ip.php");
  EXPECT_TRUE(client.Connected());
  client.Get(u"http://localhost/update.php");
  EXPECT_EQ(net_.Opened().size(), 1u);
  EXPECT_EQ(connection->writes.size(), 2u);
  EXPECT_FALSE(connection->closedByClient);
}

TEST_F(HttpClientTest, ReleasingTheClientClosesItsConnection) {
  auto connection = net_.Script({{kOk}});
  {
    HttpClient client = MakeClient();
    client.Get(u"http://localhost/ip.php");
    EXPECT_FALSE(connection->closedByClient);
  }
  EXPECT_TRUE(connection->closedByClient);
}

TEST_F(HttpClientTest, HttpOneZeroKeepAliveAnswerKeepsTheConnection) {
  net_.Script({{"HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nok"}, {kOk}});
  HttpClient client = MakeClient();
  client.Get(u"http://localhost/a");
  client.Get(u"http://localhost/b");
  EXPECT_EQ(net_.Opened().size(), 1u);
}

TEST_F(HttpClientTest, ConnectionIsNotReusedWhenTheAnswerOrTheServerEndedIt) {
  struct Case {
    const char* name;
    FakeReply firstReply;
    bool peerClosesWhileIdle;
    const char* idleBytes;  // arrive on the idle connection between the requests
    const char16_t* secondUrl;
  };
  const Case cases[] = {
      {"Connection: close", {kOkThenClose, Then::kStayOpen}, false, "", u"http://localhost/b"},
      {"HTTP/1.0 without keep-alive", {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok"}, false, "",
       u"http://localhost/b"},
      {"body until close", {"HTTP/1.1 200 OK\r\n\r\nok", Then::kClose}, false, "", u"http://localhost/b"},
      {"early close", {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nok", Then::kClose}, false, "",
       u"http://localhost/b"},
      {"peer closed while idle", {kOk}, true, "", u"http://localhost/b"},
      {"bytes arrived while idle", {kOk}, false, "HTTP/1.1 408 Request Timeout\r\n\r\n", u"http://localhost/b"},
      {"bytes after the answer", {std::string(kOk) + "HTTP/1.1 200 OK\r\n"}, false, "", u"http://localhost/b"},
      {"other port", {kOk}, false, "", u"http://localhost:81/b"},
      {"other host", {kOk}, false, "", u"http://127.0.0.1/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConnector net;
    auto first = net.Script({c.firstReply, {kOk}});
    auto second = net.Script({{kOk}});
    HttpClient client(net, kLibraryUserAgent);
    EXPECT_EQ(client.Get(u"http://localhost/a"), u"ok");
    first->peerClosedWhileIdle = c.peerClosesWhileIdle;
    first->pending += c.idleBytes;
    EXPECT_EQ(client.Get(c.secondUrl), u"ok");
    EXPECT_EQ(net.Opened().size(), 2u);
    EXPECT_TRUE(first->closedByClient);
    EXPECT_EQ(first->writes.size(), 1u);
    EXPECT_EQ(second->writes.size(), 1u);
  }
}

// Each read comes within the socket's own time-out, but the whole request is bounded too.
TEST_F(HttpClientTest, TricklingServerIsCutOffWhenTheRequestDeadlinePasses) {
  using namespace std::chrono_literals;
  for (const char16_t* url : {u"http://localhost/a", u"https://localhost/a"}) {
    SCOPED_TRACE(ToUtf8(url));
    FakeConnector net;
    net.readChunk = 1;
    net.readDelay = 29s;
    auto connection = net.Script({{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}});
    HttpClient client(net, kLibraryUserAgent, [] { return std::make_shared<FakeTlsHandler>(); });
    client.SetRequestDeadline(kRequestDeadline, [&net] { return net.now; });
    const Deadline start = net.now;
    EXPECT_TRUE(ThrowsKorError([&] { client.Get(url); }, SocketErrorMessage(wsa::kTimedOut)));
    ASSERT_TRUE(connection->deadline);
    EXPECT_EQ(*connection->deadline, start + kRequestDeadline);
    EXPECT_FALSE(client.Connected());
  }

  // A reused connection gets the bound of its new request.
  FakeConnector net;
  auto connection = net.Script({{kOk}, {kOk}});
  HttpClient client(net, kLibraryUserAgent);
  client.SetRequestDeadline(kRequestDeadline, [&net] { return net.now; });
  client.Get(u"http://localhost/a");
  net.now += 1h;
  client.Get(u"http://localhost/b");
  EXPECT_EQ(*connection->deadline, net.now + kRequestDeadline);
}

TEST_F(HttpClientTest, AttachingTlsClosesTheOpenConnection) {
  auto first = net_.Script({{kOk}, {kOk}});
  auto second = net_.Script({{kOk}});
  HttpClient client = MakeClient();
  client.Get(u"http://localhost/a");
  client.AttachTls(std::make_shared<FakeTlsHandler>());
  EXPECT_TRUE(first->closedByClient);
  EXPECT_FALSE(client.Connected());
  client.Get(u"http://localhost/b");
  EXPECT_EQ(first->writes.size(), 1u);
  EXPECT_EQ(second->writes.size(), 1u);
}

TEST_F(HttpClientTest, HttpUrlGoesPlainThroughAClientWithTlsHandler) {
  auto connection = net_.Script({{kOk}});
  auto handler = std::make_shared<FakeTlsHandler>();
  HttpClient client = MakeClient();
  client.AttachTls(handler);
  EXPECT_EQ(client.Get(u"http://localhost/ip.php"), u"ok");
  EXPECT_EQ(handler->handshakes, 0);
  EXPECT_FALSE(connection->tls);
  EXPECT_EQ(implicitHandlers_, 0);
}

TEST_F(HttpClientTest, HttpsUsesTheAttachedHandlerWithTheHostAsServerName) {
  auto connection = net_.Script({{kOk}});
  auto handler = std::make_shared<FakeTlsHandler>();
  HttpClient client = MakeClient();
  client.AttachTls(handler);
  client.Get(u"https://localhost:8443/ip.php");
  EXPECT_EQ(handler->handshakes, 1);
  EXPECT_TRUE(connection->tls);
  EXPECT_EQ(connection->serverName, "localhost");
  EXPECT_EQ(implicitHandlers_, 0);
}

TEST_F(HttpClientTest, ImplicitTlsHandlerIsCreatedOnceAndKept) {
  net_.Script({{kOkThenClose}});
  net_.Script({{kOkThenClose}});
  HttpClient client = MakeClient();
  EXPECT_FALSE(client.HasTls());
  client.Get(u"https://localhost/a");
  client.Get(u"https://localhost/b");
  EXPECT_EQ(implicitHandlers_, 1);
  EXPECT_EQ(implicitTls_->handshakes, 2);
  EXPECT_TRUE(client.HasTls());
  EXPECT_EQ(client.Tls(), implicitTls_);
}

TEST_F(HttpClientTest, PlainConnectionIsNotReusedForHttpsOnTheSamePort) {
  auto plain = net_.Script({{kOk}});
  auto secure = net_.Script({{kOk}});
  HttpClient client = MakeClient();
  client.Get(u"http://localhost:8080/a");
  client.Get(u"https://localhost:8080/b");
  EXPECT_FALSE(plain->tls);
  EXPECT_TRUE(secure->tls);
  EXPECT_EQ(secure->writes.size(), 1u);
}

TEST_F(HttpClientTest, RedirectFailsWithItsStatusLineAndIsNotFollowed) {
  auto connection = net_.Script({{"HTTP/1.1 302 Found\r\nLocation: http://localhost/elsewhere\r\n"
                                  "Content-Type: text/html\r\nContent-Length: 5\r\n\r\nmoved"}});
  HttpClient client = MakeClient();
  try {
    client.Get(u"http://localhost/update.php");
    ADD_FAILURE() << "no failure";
  } catch (const HttpError& error) {
    EXPECT_EQ(error.Message(), u"HTTP/1.1 302 Found");
    EXPECT_EQ(error.StatusCode(), 302);
    EXPECT_EQ(error.Body(), u"moved");
  }
  EXPECT_EQ(net_.Opened().size(), 1u);
  EXPECT_EQ(connection->writes.size(), 1u);
}

TEST_F(HttpClientTest, ErrorStatusFailsWithTheStatusLineAsReceived) {
  struct Case {
    const char* reply;
    const char16_t* message;
    int status;
  };
  static constexpr Case kCases[] = {
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope", u"HTTP/1.1 404 Not Found", 404},
      {"HTTP/1.0 500 Interner Fehler  \r\nContent-Length: 0\r\n\r\n", u"HTTP/1.0 500 Interner Fehler  ", 500},
      {"HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n", u"HTTP/1.1 304 Not Modified", 304},
      {"HTTP/1.1 199 Odd\r\n\r\nHTTP/1.1 600 Beyond\r\nContent-Length: 0\r\n\r\n", u"HTTP/1.1 600 Beyond", 600},
      {"HTTP/1.1 401\r\nContent-Length: 0\r\n\r\n", u"HTTP/1.1 401", 401},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.reply);
    FakeConnector net;
    net.Script({{c.reply}});
    HttpClient client(net, kLibraryUserAgent);
    try {
      client.Get(u"http://localhost/");
      ADD_FAILURE() << "no failure";
    } catch (const HttpError& error) {
      EXPECT_EQ(error.Message(), c.message);
      EXPECT_EQ(error.StatusCode(), c.status);
    }
  }
}

TEST_F(HttpClientTest, ClientSurvivesAnErrorAnswerWithItsConnectionAndHandler) {
  auto connection = net_.Script({{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}, {kOk}});
  auto handler = std::make_shared<FakeTlsHandler>();
  HttpClient client = MakeClient();
  client.AttachTls(handler);
  EXPECT_THROW(client.Get(u"https://localhost/missing"), HttpError);
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(client.Get(u"https://localhost/ip.php"), u"ok");
  EXPECT_EQ(connection->writes.size(), 2u);
  EXPECT_EQ(client.Tls(), handler);
}

TEST_F(HttpClientTest, TransportFailuresReachTheCallerUnchanged) {
  HttpClient client = MakeClient();
  net_.FailNextConnect(SocketError(wsa::kHostNotFound));
  EXPECT_TRUE(ThrowsKorError([&] { client.Get(u"http://localhost/"); }, SocketErrorMessage(wsa::kHostNotFound)));

  auto handler = std::make_shared<FakeTlsHandler>();
  handler->failure = KorError(u"Fehler beim Verbinden mit SSL.\r\nhandshake failure");
  client.AttachTls(handler);
  net_.Script({{kOk}});
  EXPECT_TRUE(ThrowsKorError([&] { client.Get(u"https://localhost/"); },
                             u"Fehler beim Verbinden mit SSL.\r\nhandshake failure"));
  EXPECT_TRUE(net_.Opened().back()->closedByClient);

  net_.Script({{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\npart", Then::kReset}});
  EXPECT_TRUE(ThrowsKorError([&] { client.Get(u"http://localhost/"); }, SocketErrorMessage(wsa::kConnectionReset)));
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, ServerClosingBeforeTheStatusLineFails) {
  for (const char* reply : {"", "HTTP/1.1 200 O", "HTTP/1.1 200 OK\r\nContent-Len"}) {
    SCOPED_TRACE(reply);
    FakeConnector net;
    net.Script({{reply, Then::kClose}});
    HttpClient client(net, kLibraryUserAgent);
    EXPECT_TRUE(ThrowsKorError([&] { client.Get(u"http://localhost/"); }, kConnectionClosedGracefully));
  }
}

TEST_F(HttpClientTest, ReusedConnectionThatFailsIsDroppedWithoutRetry) {
  // The server resets the kept connection on the second request: that request fails, and only
  // the third opens a new connection.
  auto first = net_.Script({{kOk}, {"", Then::kReset}});
  auto second = net_.Script({{kOk}});
  HttpClient client = MakeClient();
  client.Get(u"http://localhost/a");
  EXPECT_TRUE(ThrowsKorError([&] { client.Get(u"http://localhost/b"); }, SocketErrorMessage(wsa::kConnectionReset)));
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(net_.Opened().size(), 1u);
  EXPECT_EQ(client.Get(u"http://localhost/c"), u"ok");
  EXPECT_EQ(first->writes.size(), 2u);
  EXPECT_EQ(second->writes.size(), 1u);
}

TEST_F(HttpClientTest, SwitchingProtocolsEndsTheRequestWithoutBodyOrFailure) {
  net_.Script({{"HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\nbinary"}});
  HttpClient client = MakeClient();
  EXPECT_EQ(client.Get(u"http://localhost/"), u"");
  EXPECT_EQ(client.LastResponse().status, 101);
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, OversizedBodyFailsAndDropsTheConnection) {
  const std::string body(kMaxBodyBytes + 1, 'x');
  net_.Script({{"HTTP/1.1 200 OK\r\n\r\n" + body, Then::kClose}});
  HttpClient client = MakeClient();
  EXPECT_TRUE(ThrowsKorError([&] { client.Get(u"http://localhost/"); }, kResponseTooLarge));
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientTest, BodyIsDecodedByItsCharset) {
  struct Case {
    const char* headers;
    std::string body;
    const char16_t* text;
  };
  const Case cases[] = {
      {"Content-Type: text/plain\r\n", "gr\xFC\xDF", u"gr\u00FC\u00DF"},
      {"Content-Type: text/html; charset=UTF-8\r\n", "gr\xC3\xBC\xC3\x9F", u"gr\u00FC\u00DF"},
      {"", "\xFC\r\n", u"\u00FC\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    FakeConnector net;
    net.Script({{std::string("HTTP/1.1 200 OK\r\n") + c.headers + "Content-Length: " + std::to_string(c.body.size()) +
                 "\r\n\r\n" + c.body}});
    HttpClient client(net, kLibraryUserAgent);
    EXPECT_EQ(client.Get(u"http://localhost/"), c.text);
  }
}

TEST_F(HttpClientTest, AnswerFedByteByByteGivesTheSameBody) {
  net_.readChunk = 1;
  net_.Script({{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                "3\r\n1.2\r\n6;x=y\r\n.3.4\r\n\r\n0\r\nTrailer: t\r\n\r\n"},
               {kOk}});
  HttpClient client = MakeClient();
  EXPECT_EQ(client.Get(u"http://localhost/ip.php"), u"1.2.3.4\r\n");
  EXPECT_EQ(client.Get(u"http://localhost/ip.php"), u"ok");
  EXPECT_EQ(net_.Opened().size(), 1u);
}

}  // namespace
}  // namespace korvex
