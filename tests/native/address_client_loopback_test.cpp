// The address client over the POSIX connector and the OpenSSL handler, on loopback.

#include <gtest/gtest.h>

#include "core/tls.h"
#include "tests/support/address_client_loopback_tests.h"

namespace korvex::testing {
namespace {

using Then = ConnectionScript::Then;

std::shared_ptr<TlsHandler> TrustingTestCa(const std::string& libraryName = {}) {
  TlsOptions options;
  options.extraCaFile = TestCertFile("ca.pem");
  options.libraryName = libraryName;
  return MakeTlsHandler(options);
}

ServerTls ServerCert(const std::string& name) { return {TestCertFile(name + ".pem"), TestCertFile(name + ".key")}; }

TEST(AddressClientLoopback, HttpsWithTrustedCertificateReusesTheTlsConnection) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  ScriptedServer server({{{ok, ok}, Then::kKeepOpen}}, ServerCert("localhost"));
  auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
  HttpClient client(*connector, kLibraryUserAgent);
  client.AttachTls(TrustingTestCa());
  const Text url = FromUtf8(server.Url("/ip.php"));
  EXPECT_EQ(client.Get(url), u"ok");
  EXPECT_EQ(client.Get(url), u"ok");
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_EQ(server.ServerNames(), std::vector<std::string>{"localhost"});
}

TEST(AddressClientLoopback, HttpsWithUntrustedCertificateSendsNothing) {
  ScriptedServer server({{{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}, Then::kKeepOpen}},
                        ServerCert("selfsigned"));
  auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
  HttpClient client(*connector, kLibraryUserAgent);
  client.AttachTls(TrustingTestCa());
  EXPECT_EQ(FailureOf(client, FromUtf8(server.Url("/update.php?pass=geheim"))), Text(kCertificateRejected));
  EXPECT_TRUE(server.Requests().empty()) << "the password never left";
}

// A missing TLS library fails HTTPS only; once a loadable library is named, HTTPS works in the
// same process without a restart.
TEST(AddressClientLoopback, MissingTlsLibraryFailsHttpsOnlyUntilItCanBeLoaded) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  ScriptedServer plain({{{ok}, Then::kKeepOpen}});
  ScriptedServer secure({{}, {{ok}, Then::kKeepOpen}}, ServerCert("localhost"));
  auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
  HttpClient client(*connector, kLibraryUserAgent);
  client.AttachTls(TrustingTestCa("libkorvex-no-such-ssl.so.3"));

  EXPECT_EQ(FailureOf(client, FromUtf8(secure.Url("/ip.php"))), Text(kTlsLibraryMissing));
  EXPECT_EQ(client.Get(LocalUrl(plain, "/ip.php")), u"ok");
  client.AttachTls(TrustingTestCa());
  EXPECT_EQ(client.Get(FromUtf8(secure.Url("/ip.php"))), u"ok");
}

}  // namespace
}  // namespace korvex::testing
