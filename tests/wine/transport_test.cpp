// The Winsock connector and the SChannel handler over real loopback sockets. SChannel's peers are
// openssl s_server instances (tests/fixtures/tls_servers.sh) that reverse each line they receive;
// the test CA is in the prefix's root store (tests/fixtures/install_test_ca.cpp).

#include <gtest/gtest.h>

#include "core/tls.h"
#include "tests/support/expect_error.h"
#include "tests/support/scripted_server.h"
#include "tests/support/socket_transport_tests.h"
#include "tests/support/tls_servers.h"

namespace korvex::testing {
namespace {

using Then = ConnectionScript::Then;

std::unique_ptr<Stream> HandshakeWith(const std::string& server, const std::string& serverName = "localhost") {
  return MakeTlsHandler()->Handshake(MakeSystemConnector(kShortTimeoutMs)->Connect("localhost", TlsServerPort(server)),
                                     serverName);
}

std::string ReadLine(Stream& stream) {
  std::string line;
  char byte;
  while (line.empty() || line.back() != '\n') {
    if (stream.Read(&byte, 1) == 0) break;
    line += byte;
  }
  return line;
}

// The trusted server presents its "localhost" certificate only to a client that sends that name
// (SNI); to any other it shows a certificate for another name, which the client must refuse.
TEST(SchannelHandler, TrustedCertificateCarriesDataAndSendsServerName) {
  auto stream = HandshakeWith("trusted");
  stream->Write("hello korvex\n");
  EXPECT_EQ(ReadLine(*stream), "xevrok olleh\n");
  // Three lines in one write: more than one TLS record out and back.
  const std::string line(10000, 'a');
  stream->Write(line + "b\n" + line + "c\n" + line + "d\n");
  for (const char last : {'b', 'c', 'd'}) {
    EXPECT_TRUE(ReadLine(*stream) == last + line + "\n") << last;
  }
  EXPECT_FALSE(stream->Stale());
}

TEST(SchannelHandler, RejectsCertificatesThatAreNotTrustedOrNotForTheName) {
  struct Case {
    const char* server;
    const char* serverName;
  };
  constexpr Case kCases[] = {
      {"selfsigned", "localhost"},
      {"wrongname", "localhost"},
      {"trusted", "korvex-other.localhost"},  // no certificate of the server is for that name
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.server) + " as " + c.serverName);
    EXPECT_TRUE(ThrowsKorError([&] { HandshakeWith(c.server, c.serverName); }, kCertificateRejected));
  }
}

TEST(SchannelHandler, RefusesAServerThatOffersOnlyTls11) {
  const std::optional<KorError> error = KorErrorOf([] { HandshakeWith("tls11"); });
  ASSERT_TRUE(error) << "handshake accepted";
  const Text prefix = kTlsHandshakeFailed;
  EXPECT_EQ(error->Message().substr(0, prefix.size()), prefix);
  EXPECT_GT(error->Message().size(), prefix.size()) << "the library's own text follows";
  // Where SChannel negotiates TLS 1.1 all the same (Wine), our own check refuses it, in German.
  EXPECT_EQ(error->Message(), prefix + kTlsObsoleteProtocol);
}

// A server may ask for a client certificate without requiring one; SChannel then reports
// incomplete credentials, and the handshake must go on without a certificate, as OpenSSL's does.
TEST(SchannelHandler, GoesOnWhenTheServerAsksForAnOptionalClientCertificate) {
  auto stream = HandshakeWith("optcert");
  stream->Write("abc\n");
  EXPECT_EQ(ReadLine(*stream), "cba\n");
}

TEST(SchannelHandler, SilentServerDuringHandshakeIsATimeOut) {
  ScriptedServer server({{{}, Then::kKeepOpen}});  // plain TCP: never answers the ClientHello
  const auto error = SocketErrorOf([&] {
    MakeTlsHandler()->Handshake(MakeSystemConnector(kShortTimeoutMs)->Connect("localhost", server.Port()),
                                "localhost");
  });
  EXPECT_EQ(error, wsa::kTimedOut);
}

TEST(SchannelHandler, StaleSeesTheServersClose) {
  auto stream = HandshakeWith("trusted");
  stream->Write("abc\n");
  ASSERT_EQ(ReadLine(*stream), "cba\n");
  EXPECT_FALSE(stream->Stale());
  stream->Write("CLOSE\n");  // s_server's word for ending the connection
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  bool closed = stream->Stale();
  while (!closed && std::chrono::steady_clock::now() < deadline) closed = stream->Stale();
  EXPECT_TRUE(closed);
  char byte;
  EXPECT_EQ(stream->Read(&byte, 1), 0u);
}

}  // namespace
}  // namespace korvex::testing
