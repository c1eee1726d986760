// The WinHTTP download client under Wine against the local address service, scripted servers
// where the wire matters, the TLS peers with rejected certificates, and a real HTTP proxy
// (tinyproxy) named in the prefix's per-user Internet settings.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "client/download_client.h"
#include "core/error.h"
#include "core/tls.h"
#include "core/win32/windows_api.h"
#include "tests/support/expect_error.h"
#include "tests/support/internet_settings.h"
#include "tests/support/scripted_server.h"
#include "tests/support/simulator.h"
#include "tests/support/tls_servers.h"

namespace korvex {
namespace {

using namespace std::chrono_literals;
using testing::ConnectionScript;
using testing::ScriptedServer;

std::string Reply(const std::string& statusLine, const std::string& headers, const std::string& body) {
  return "HTTP/1.1 " + statusLine + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

ConnectionScript Once(const std::string& reply) { return {{reply}, ConnectionScript::Then::kClose}; }

// A target that counts what it is given and keeps none of it: an endless body runs as fast as
// loopback carries it, which within a time limit can be more than memory holds.
class CountingStream final : public ByteStream {
 public:
  void Write(std::string_view bytes) override {
    position_ += bytes.size();
    size_ = std::max(size_, position_);
  }
  std::uint64_t Position() const override { return position_; }
  void Seek(std::uint64_t position) override { position_ = position; }
  std::uint64_t Size() const override { return size_; }
  void Truncate(std::uint64_t size) override { size_ = std::min(size_, size); }

 private:
  std::uint64_t position_ = 0;
  std::uint64_t size_ = 0;
};

Text Loopback(const ScriptedServer& server, const std::string& path) {
  return FromAscii("http://127.0.0.1:" + std::to_string(server.Port()) + path);
}

std::string Message(const std::function<void()>& action) {
  const std::optional<KorError> error = testing::KorErrorOf(action);
  return error ? ToUtf8(error->Message()) : "(no failure)";
}

std::string ReadLinuxFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteLinuxFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

class DownloadClientWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = testing::Simulator::Find();
    ASSERT_TRUE(sim_) << "the simulator fixture is not running";
    ASSERT_TRUE(testing::SetUserProxy(""));
  }
  void TearDown() override { testing::RemoveUserProxy(); }

  Text SimHttps(const std::string& path) const { return sim_->HttpsHost() + FromAscii(path); }

  std::optional<testing::Simulator> sim_;
  std::unique_ptr<DownloadClient> client_ = MakeSystemDownloadClient();
};

TEST_F(DownloadClientWineTest, WritesTheBodyByteForByteFromThePositionAndPutsThePositionBack) {
  std::string content;
  for (int i = 0; i < 200000; ++i) content += static_cast<char>(i * 7 % 256);
  WriteLinuxFile(sim_->Dir() + "/files/updates/download-test.bin", content);
  MemoryStream target;
  target.Write("vorher");
  const DownloadResponse response = client_->Get(u"https://" + SimHttps("/updates/download-test.bin"), target);
  EXPECT_EQ(response.statusCode, 200);
  EXPECT_EQ(response.statusText, u"OK");
  EXPECT_EQ(target.Position(), 6u);
  EXPECT_TRUE(target.Bytes() == "vorher" + content) << "body differs";
}

TEST_F(DownloadClientWineTest, AnErrorPageLandsInTheTargetAndIsNoFailure) {
  MemoryStream target;
  const DownloadResponse response = client_->Get(u"https://" + SimHttps("/updates/gibt-es-nicht.exe"), target);
  EXPECT_EQ(response.statusCode, 404);
  EXPECT_EQ(response.StatusLine().substr(0, 12), u"HTTP/1.1 404");
  EXPECT_EQ(target.Bytes(), "Not Found");
}

TEST_F(DownloadClientWineTest, FollowsARedirectToAnotherPathSendingCookiesBackAndAnEncodedPath) {
  // One server for all answers: each connection gets the next script.
  ScriptedServer server({
      Once(Reply("302 Found", "Location: /ziel/neue datei.exe\r\nSet-Cookie: sitzung=abc; Path=/\r\n", "weg hier")),
      Once(Reply("200 OK", "", "die Datei")),
  });
  MemoryStream target;
  const DownloadResponse response = client_->Get(Loopback(server, "/start/alte datei.exe"), target);
  EXPECT_EQ(response.statusCode, 200);
  EXPECT_EQ(target.Bytes(), "die Datei");
  ASSERT_TRUE(server.WaitUntilServed(2));
  const std::vector<testing::ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].bytes.rfind("GET /start/alte%20datei.exe HTTP/1.1\r\n", 0), 0u) << requests[0].bytes;
  EXPECT_EQ(requests[0].bytes.find("Cookie:"), std::string::npos) << requests[0].bytes;
  EXPECT_EQ(requests[0].bytes.find("Accept:"), std::string::npos) << requests[0].bytes;
  EXPECT_EQ(requests[1].bytes.rfind("GET /ziel/neue%20datei.exe HTTP/1.1\r\n", 0), 0u) << requests[1].bytes;
  EXPECT_NE(requests[1].bytes.find("\r\nCookie: sitzung=abc\r\n"), std::string::npos) << requests[1].bytes;
}

TEST_F(DownloadClientWineTest, TheSixthRedirectFails) {
  std::vector<ConnectionScript> scripts;
  for (int i = 0; i < 7; ++i) {
    scripts.push_back(Once(Reply("302 Found", "Location: /r" + std::to_string(i) + "\r\n", "")));
  }
  ScriptedServer server(scripts);
  MemoryStream target;
  EXPECT_EQ(Message([&] { client_->Get(Loopback(server, "/"), target); }),
            "Maximale Anzahl von Umleitungen (5) überschritten");
  EXPECT_EQ(server.Requests().size(), 6u);
}

TEST_F(DownloadClientWineTest, ARedirectFromHttpsToHttpFails) {
  const Text to = u"http://" + sim_->HttpHost() + u"/updates/x";
  MemoryStream target;
  EXPECT_EQ(Message([&] { client_->Get(u"https://" + SimHttps("/redirect?to=") + to, target); }),
            ToUtf8(Format(kInsecureRedirect, {to})));
}

TEST_F(DownloadClientWineTest, RejectedCertificatesFailWithTheCertificateMessage) {
  for (const char* name : {"selfsigned", "wrongname"}) {
    SCOPED_TRACE(name);
    MemoryStream target;
    const Text url = FromAscii("https://localhost:" + std::to_string(testing::TlsServerPort(name)) + "/");
    EXPECT_EQ(Message([&] { client_->Get(url, target); }), ToUtf8(kCertificateRejected));
  }
}

TEST_F(DownloadClientWineTest, ARefusedConnectionIsASendFailure) {
  std::uint16_t port = 0;
  {
    ScriptedServer closed({});
    port = closed.Port();
  }
  MemoryStream target;
  const std::string message =
      Message([&] { client_->Get(FromAscii("http://127.0.0.1:" + std::to_string(port) + "/"), target); });
  EXPECT_EQ(message.rfind("Fehler beim Senden der Daten: (12029) ", 0), 0u) << message;
}

// The limits on WinHTTP itself, small so that the test is quick: a body that stops, one that
// never ends, and one that never ends but stays under the size cap until the time is up.
TEST_F(DownloadClientWineTest, AStalledOrEndlessBodyFailsWithinItsLimit) {
  using namespace std::chrono_literals;
  struct Case {
    const char* name;
    ConnectionScript script;
    DownloadLimits limits;
    std::string message;  // after the URL's quotes
  };
  const std::string endlessHead = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
  const Case cases[] = {
      {"ten bytes, then nothing",
       {{"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789"}, ConnectionScript::Then::kKeepOpen},
       {1s, 1024 * 1024, 30s},
       " wurde abgebrochen: 1 Sekunden lang kamen keine Daten an"},
      {"no end, past the size cap",
       {{endlessHead}, ConnectionScript::Then::kClose, {}, std::string(16 * 1024, 'x')},
       {10s, 1024 * 1024, 30s},
       " wurde abgebrochen: die Datei ist größer als 1 MiB"},
      {"no end, past the time limit",
       {{endlessHead}, ConnectionScript::Then::kClose, {}, std::string(16 * 1024, 'x')},
       {10s, std::uint64_t{1} << 40, 2s},
       " wurde abgebrochen: er hat länger als 2 Sekunden gedauert"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server({c.script});
    const std::unique_ptr<DownloadClient> client = MakeSystemDownloadClient(c.limits);
    CountingStream target;
    const Text url = Loopback(server, "/endlos.exe");
    const auto start = std::chrono::steady_clock::now();
    std::optional<KorError> error;
    try {
      client->Get(url, target);
    } catch (const DownloadLimitExceeded& limit) {
      error = limit;
    }
    ASSERT_TRUE(error) << "no limit failure";
    EXPECT_EQ(ToUtf8(error->Message()), "Der Download von \"" + ToUtf8(url) + "\"" + c.message);
    EXPECT_LE(target.Size(), c.limits.maxBytes);
    EXPECT_LT(std::chrono::steady_clock::now() - start, c.limits.total + 10s);
  }
}

TEST_F(DownloadClientWineTest, RequestsGoThroughTheUsersProxy) {
  const std::string dir = std::string(KORVEX_PROXY_DIR);
  const std::string port = ReadLinuxFile(dir + "/port");
  ASSERT_FALSE(port.empty()) << "the http_proxy fixture is not running";
  ASSERT_TRUE(testing::SetUserProxy("127.0.0.1:" + port.substr(0, port.find_first_of("\r\n"))));

  // Not 127.0.0.1 like the proxy: Wine's WinHTTP takes a target on the proxy's host for no proxy.
  const std::size_t mark = sim_->LogMark();
  MemoryStream plain;
  EXPECT_EQ(client_->Get(FromAscii("http://localhost:" + std::to_string(sim_->HttpPort()) + "/ip.php"), plain).statusCode,
            200);
  const std::vector<testing::SimRequest> requests = sim_->RequestsSince(mark, 1);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0]["header.Via"].find("korvex-test-proxy"), std::string::npos) << "not through the proxy";

  // HTTPS goes through a tunnel. Inside it Wine's WinHTTP sends the target in absolute form,
  // which the simulator's HTTP library does not route (404); the request arrives all the same.
  const std::size_t secureMark = sim_->LogMark();
  MemoryStream secure;
  client_->Get(u"https://" + SimHttps("/ip.php"), secure);
  EXPECT_NE(ReadLinuxFile(dir + "/proxy.log").find("CONNECT " + ToUtf8(sim_->HttpsHost())), std::string::npos)
      << "no tunnel through the proxy";
  const std::vector<testing::SimRequest> tunnelled = sim_->RequestsSince(secureMark, 1);
  ASSERT_EQ(tunnelled.size(), 1u);
  EXPECT_EQ(tunnelled[0]["scheme"], "https");
  EXPECT_TRUE(tunnelled[0]["target"].ends_with("/ip.php")) << tunnelled[0]["target"];
}

}  // namespace
}  // namespace korvex
