// The POSIX connector and the OpenSSL handler over real loopback sockets.

#include <gtest/gtest.h>

#include "core/tls.h"
#include "tests/support/expect_error.h"
#include "tests/support/scripted_server.h"
#include "tests/support/socket_transport_tests.h"

namespace korvex::testing {
namespace {

using Then = ConnectionScript::Then;

ServerTls ServerCert(const std::string& name, bool tls11Only = false) {
  return {TestCertFile(name + ".pem"), TestCertFile(name + ".key"), tls11Only};
}

TlsOptions TrustTestCa() {
  TlsOptions options;
  options.extraCaFile = TestCertFile("ca.pem");
  return options;
}

TEST(OpenSslHandler, TrustedCertificateCarriesDataAndSendsServerName) {
  const std::string head = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
  ScriptedServer server({{{"first answer"}, Then::kKeepOpen}}, ServerCert("localhost"));
  auto handler = MakeTlsHandler(TrustTestCa());

  auto stream = handler->Handshake(MakeSystemConnector(kShortTimeoutMs)->Connect("localhost", server.Port()),
                                   "localhost");
  stream->Write(head);
  char buffer[100];
  std::string answer;
  while (answer.size() < 12) answer.append(buffer, stream->Read(buffer, sizeof buffer));
  EXPECT_EQ(answer, "first answer");
  EXPECT_FALSE(stream->Stale());
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].bytes, head);
  EXPECT_EQ(server.ServerNames(), std::vector<std::string>{"localhost"});
}

// The default service host is an address; the certificate names it as an IP address entry.
TEST(OpenSslHandler, AcceptsAnAddressTheCertificateNames) {
  ScriptedServer server({{{"x"}, Then::kKeepOpen}}, ServerCert("localhost"));
  auto stream = MakeTlsHandler(TrustTestCa())
                    ->Handshake(MakeSystemConnector(kShortTimeoutMs)->Connect("127.0.0.1", server.Port()),
                                "127.0.0.1");
  stream->Write("GET / HTTP/1.1\r\n\r\n");
  char byte;
  EXPECT_EQ(stream->Read(&byte, 1), 1u);
  EXPECT_EQ(server.ServerNames(), std::vector<std::string>{""}) << "no SNI for an address";
}

TEST(OpenSslHandler, RejectsCertificatesThatAreNotTrustedOrNotForTheName) {
  struct Case {
    const char* name;
    const char* serverCert;
    bool trustTestCa;
    const char* serverName;
  };
  constexpr Case kCases[] = {
      {"self-signed", "selfsigned", true, "localhost"},
      {"issued for another name", "wrongname", true, "localhost"},
      {"CA not in the system store", "localhost", false, "localhost"},
      {"name differs from the certificate", "localhost", true, "127.0.0.2"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server({{}}, ServerCert(c.serverCert));
    auto handler = MakeTlsHandler(c.trustTestCa ? TrustTestCa() : TlsOptions{});
    EXPECT_TRUE(ThrowsKorError(
        [&] {
          handler->Handshake(MakeSystemConnector(kShortTimeoutMs)->Connect("127.0.0.1", server.Port()),
                             c.serverName);
        },
        kCertificateRejected));
    EXPECT_TRUE(server.Requests().empty());
  }
}

TEST(OpenSslHandler, RefusesAServerThatOffersOnlyTls11) {
  ScriptedServer server({{}}, ServerCert("localhost", /*tls11Only=*/true));
  const std::optional<KorError> error = KorErrorOf([&] {
    MakeTlsHandler(TrustTestCa())
        ->Handshake(MakeSystemConnector(kShortTimeoutMs)->Connect("localhost", server.Port()), "localhost");
  });
  ASSERT_TRUE(error) << "handshake accepted";
  const Text prefix = kTlsHandshakeFailed;
  EXPECT_EQ(error->Message().substr(0, prefix.size()), prefix);
  EXPECT_GT(error->Message().size(), prefix.size()) << "the library's own text follows";
}

TEST(OpenSslHandler, SilentServerDuringHandshakeIsATimeOut) {
  ScriptedServer server({{{}, Then::kKeepOpen}});  // plain TCP: never answers the ClientHello
  const auto error = SocketErrorOf([&] {
    MakeTlsHandler(TrustTestCa())
        ->Handshake(MakeSystemConnector(kShortTimeoutMs)->Connect("localhost", server.Port()), "localhost");
  });
  EXPECT_EQ(error, wsa::kTimedOut);
}

TEST(OpenSslHandler, StaleSeesTheServersCloseNotify) {
  ScriptedServer server({{{"x"}, Then::kClose}, {{"x"}, Then::kKeepOpen}}, ServerCert("localhost"));
  auto handler = MakeTlsHandler(TrustTestCa());
  auto connector = MakeSystemConnector(kShortTimeoutMs);
  for (const bool closes : {true, false}) {
    SCOPED_TRACE(closes ? "server closes" : "server stays");
    auto stream = handler->Handshake(connector->Connect("localhost", server.Port()), "localhost");
    stream->Write("GET / HTTP/1.1\r\n\r\n");
    char byte;
    ASSERT_EQ(stream->Read(&byte, 1), 1u);
    ASSERT_TRUE(server.WaitUntilServed(closes ? 1 : 2));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool closed = stream->Stale();
    while (closes && !closed && std::chrono::steady_clock::now() < deadline) closed = stream->Stale();
    EXPECT_EQ(closed, closes);
    if (closes) {
      EXPECT_EQ(stream->Read(&byte, 1), 0u);
    }
  }
}

TEST(OpenSslHandler, MissingLibraryFailsUntilTheRightOneIsNamed) {
  // The failed attempts connect too, and drop their connections unused.
  ScriptedServer server({{}, {}, {{"x"}, Then::kKeepOpen}}, ServerCert("localhost"));
  auto connector = MakeSystemConnector(kShortTimeoutMs);
  TlsOptions missing = TrustTestCa();
  missing.libraryName = "libkorvex-no-such-ssl.so.3";
  auto absent = MakeTlsHandler(missing);
  for (int attempt = 0; attempt < 2; ++attempt) {  // a failed load is tried again, and fails again
    SCOPED_TRACE(attempt);
    EXPECT_TRUE(ThrowsKorError([&] { absent->Handshake(connector->Connect("localhost", server.Port()), "localhost"); },
                               kTlsLibraryMissing));
  }
  auto stream = MakeTlsHandler(TrustTestCa())->Handshake(connector->Connect("localhost", server.Port()), "localhost");
  stream->Write("GET / HTTP/1.1\r\n\r\n");
  char byte;
  EXPECT_EQ(stream->Read(&byte, 1), 1u);
}

}  // namespace
}  // namespace korvex::testing
