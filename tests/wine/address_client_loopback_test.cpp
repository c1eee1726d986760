// The address client over Winsock and SChannel, on loopback.

#include <gtest/gtest.h>

#include "core/tls.h"
#include "tests/support/address_client_loopback_tests.h"
#include "tests/support/tls_servers.h"

namespace korvex::testing {
namespace {

// s_server -WWW answers one file as HTTP/1.0 without a length and closes: the body ends at the
// close, over TLS as over plain TCP. The test CA is in the prefix's root store.
TEST(AddressClientLoopback, HttpsThroughSchannelReadsUntilTheServerCloses) {
  auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
  HttpClient client(*connector, kLibraryUserAgent);
  client.AttachTls(MakeTlsHandler());
  const Text url = FromUtf8("https://localhost:" + std::to_string(TlsServerPort("www")) + "/korvex.txt");
  EXPECT_EQ(client.Get(url), u"korvex over tls\n");
  EXPECT_EQ(client.Get(url), u"korvex over tls\n") << "a new connection after the close";
}

TEST(AddressClientLoopback, HttpsToAnUntrustedServerFailsWithTheCertificateMessage) {
  auto connector = MakeSystemConnector(kLoopbackTimeoutMs);
  HttpClient client(*connector, kLibraryUserAgent);
  client.AttachTls(MakeTlsHandler());
  const Text url = FromUtf8("https://localhost:" + std::to_string(TlsServerPort("selfsigned")) + "/update.php");
  EXPECT_EQ(FailureOf(client, url), Text(kCertificateRejected));
}

}  // namespace
}  // namespace korvex::testing
