#include "core/url.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

TEST(Url, UserInfoIsDroppedAndPortsAreChecked) {
  const Url url = ParseUrl(u"https://user:pw@localhost:8443/a?b#c");
  EXPECT_EQ(url.host, u"localhost");
  EXPECT_EQ(url.port, 8443);
  EXPECT_FALSE(url.defaultPort);
  EXPECT_EQ(url.target, u"/a?b");
  EXPECT_TRUE(url.Secure());

  for (const char16_t* bad : {u"http://", u"http:///ip.php", u"http://:8080/", u"http://localhost:99999/",
                              u"http://localhost:0/", u"http://localhost:8o/", u"http://localhost:-1/"}) {
    SCOPED_TRACE(ToUtf8(bad));
    EXPECT_TRUE(testing::ThrowsKorError([&] { ParseUrl(bad); }, kInvalidUrl));
  }
}

}  // namespace
}  // namespace korvex
