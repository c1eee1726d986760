#include "core/socket_error.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/error.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

// The wire of these messages is pinned on purpose: users and support know them by their text.
TEST(SocketError, MessageCarriesNumberReasonAndLineEnd) {
  struct Case {
    std::uint32_t code;
    const char16_t* message;
  };
  constexpr Case kCases[] = {
      {11001, u"Socket-Fehler # 11001Host nicht gefunden.\r\n"},
      {10061, u"Socket-Fehler # 10061Verbindung abgelehnt.\r\n"},
      {10060, u"Socket-Fehler # 10060Zeitüberschreitung bei Verbindung.\r\n"},
      {10054, u"Socket-Fehler # 10054Die Verbindung wurde von Peer zurückgesetzt.\r\n"},
      {10051, u"Socket-Fehler # 10051Netzwerk ist nicht erreichbar.\r\n"},
      {10065, u"Socket-Fehler # 10065Keine Route zum Host.\r\n"},
      {12345, u"Socket-Fehler # 12345\r\n"},  // a number without reason leaves %s empty
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.code);
    const std::optional<KorError> error = testing::KorErrorOf([&] { ThrowSocketError(c.code); });
    ASSERT_TRUE(error) << "no throw";
    EXPECT_EQ(error->Message(), c.message);
    EXPECT_EQ(error->OsCode(), c.code);
  }
}

}  // namespace
}  // namespace korvex
