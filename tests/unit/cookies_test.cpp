#include "core/cookies.h"

#include <gtest/gtest.h>

namespace korvex {
namespace {

constexpr std::int64_t kJune2021 = 1623233894;  // Wed, 09 Jun 2021 10:18:14 GMT

TEST(CookieDate, ParsesTheFormatsServersSend) {
  struct Case {
    const char* text;
    std::optional<std::int64_t> seconds;
  };
  static constexpr Case kCases[] = {
      {"Wed, 09 Jun 2021 10:18:14 GMT", kJune2021},
      {"Wednesday, 09-Jun-21 10:18:14 GMT", kJune2021},
      {"Wed Jun  9 10:18:14 2021", kJune2021},
      {"09 june 2021 10:18:14", kJune2021},
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
      {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
      {"Thu, 29 Feb 2024 00:00:00 GMT", 1709164800},
      {"1 Jan 69 00:00:00", 3124224000},
      {"1 Jan 1601 00:00:00", -11644473600},
      {"Wed, 29 Feb 2023 00:00:00 GMT", std::nullopt},
      {"Wed, 09 Jun 2021 24:00:00 GMT", std::nullopt},
      {"Wed, 32 Jun 2021 10:18:14 GMT", std::nullopt},
      {"Wed, 09 Jun 1600 10:18:14 GMT", std::nullopt},
      {"Wed, 09 Jun 2021", std::nullopt},
      {"09 2021 10:18:14", std::nullopt},
      {"", std::nullopt},
      {"morgen", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseCookieDate(c.text), c.seconds);
  }
}

class CookieStoreTest : public ::testing::Test {
 protected:
  void Receive(const char16_t* url, const char* setCookie) { store_.Receive(setCookie, ParseUrl(url)); }
  std::string SentTo(const char16_t* url) { return store_.HeaderFor(ParseUrl(url)); }

  std::int64_t now_ = kJune2021;
  CookieStore store_{[this] { return now_; }};
};

TEST_F(CookieStoreTest, DomainPathAndSecureDecideWhereACookieGoes) {
  struct Case {
    const char16_t* setAt;
    const char* setCookie;
    const char16_t* requestUrl;
    bool sent;
  };
  static constexpr Case kCases[] = {
      {u"http://localhost/", "c=1", u"http://localhost:8080/x", true},
      {u"http://localhost/", "c=1", u"http://sub.localhost/", false},
      {u"http://www.example.test/", "c=1; Domain=example.test", u"http://example.test/", true},
      {u"http://www.example.test/", "c=1; Domain=example.test", u"http://a.b.example.test/", true},
      {u"http://www.example.test/", "c=1; Domain=example.test", u"http://badexample.test/", false},
      {u"http://www.example.test/", "c=1; Domain=.Example.TEST", u"http://EXAMPLE.test/", true},
      {u"http://www.example.test/", "c=1", u"http://example.test/", false},
      {u"http://www.example.test/", "c=1; Domain=other.test", u"http://other.test/", false},
      {u"http://www.example.test/", "c=1; Domain=other.test", u"http://www.example.test/", false},
      {u"http://127.0.0.1/", "c=1; Domain=127.0.0.1", u"http://127.0.0.1/", true},
      {u"http://127.0.0.1/", "c=1; Domain=0.0.1", u"http://127.0.0.1/", false},
      {u"http://localhost/", "c=1; Path=/app", u"http://localhost/app", true},
      {u"http://localhost/", "c=1; Path=/app", u"http://localhost/app/x?y=1", true},
      {u"http://localhost/", "c=1; Path=/app", u"http://localhost/app?y=1", true},
      {u"http://localhost/", "c=1; Path=/app", u"http://localhost/application", false},
      {u"http://localhost/", "c=1; Path=/app", u"http://localhost/", false},
      {u"http://localhost/", "c=1; Path=/app/", u"http://localhost/app", false},
      {u"http://localhost/", "c=1; Path=/app/", u"http://localhost/app/x", true},
      // Without a Path the cookie belongs to the directory of the URL that set it.
      {u"http://localhost/dir/page.php?a=/b/c", "c=1", u"http://localhost/dir/other", true},
      {u"http://localhost/dir/page.php?a=/b/c", "c=1", u"http://localhost/other", false},
      {u"http://localhost/dir/page.php", "c=1; Path=relative", u"http://localhost/dir/x", true},
      {u"http://localhost/dir/page.php", "c=1; Path=relative", u"http://localhost/x", false},
      {u"http://localhost/ip.php", "c=1", u"http://localhost/update.php", true},
      {u"http://localhost/", "c=1; Secure", u"http://localhost/", false},
      {u"http://localhost/", "c=1; secure; HttpOnly", u"https://localhost/", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.setAt) + " | " + c.setCookie + " | " + ToUtf8(c.requestUrl));
    CookieStore store([] { return kJune2021; });
    store.Receive(c.setCookie, ParseUrl(c.setAt));
    EXPECT_EQ(store.HeaderFor(ParseUrl(c.requestUrl)), c.sent ? "c=1" : "");
  }
}

TEST_F(CookieStoreTest, ExpiryFollowsMaxAgeBeforeExpires) {
  struct Case {
    const char* name;
    const char* setCookie;
    std::int64_t lastSecondSent;  // after the time of receipt; -1: never, 0: dropped at once
  };
  static constexpr Case kCases[] = {
      {"max-age", "c=1; Max-Age=60", 59},
      {"expires", "c=1; Expires=Wed, 09 Jun 2021 10:19:14 GMT", 59},
      {"max-age wins over a later expires", "c=1; Expires=Wed, 09 Jun 2031 10:19:14 GMT; Max-Age=10", 9},
      {"max-age wins over an earlier expires", "c=1; Max-Age=10; Expires=Wed, 09 Jun 2001 10:19:14 GMT", 9},
      {"max-age zero", "c=1; Max-Age=0", -1},
      {"negative max-age", "c=1; Max-Age=-5", -1},
      {"expires in the past", "c=1; Expires=Sun, 06 Nov 1994 08:49:37 GMT", -1},
      {"a bad max-age is ignored", "c=1; Max-Age=soon; Expires=Wed, 09 Jun 2021 10:18:24 GMT", 9},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::int64_t now = kJune2021;
    CookieStore store([&now] { return now; });
    store.Receive(c.setCookie, ParseUrl(u"http://localhost/"));
    if (c.lastSecondSent < 0) {
      EXPECT_EQ(store.HeaderFor(ParseUrl(u"http://localhost/")), "");
      continue;
    }
    now = kJune2021 + c.lastSecondSent;
    EXPECT_EQ(store.HeaderFor(ParseUrl(u"http://localhost/")), "c=1");
    now += 1;
    EXPECT_EQ(store.HeaderFor(ParseUrl(u"http://localhost/")), "");
  }
}

TEST_F(CookieStoreTest, SessionCookieLastsAsLongAsTheStore) {
  Receive(u"http://localhost/", "c=1; Max-Age=99999999999999999999999");
  Receive(u"http://localhost/", "d=2");
  now_ += 100LL * 365 * 86400;
  EXPECT_EQ(SentTo(u"http://localhost/"), "c=1; d=2");
}

TEST_F(CookieStoreTest, ServerReplacesAndDeletesItsCookies) {
  Receive(u"http://localhost/", "a=1");
  Receive(u"http://localhost/", "b=2");
  Receive(u"http://localhost/", "a=3");
  EXPECT_EQ(SentTo(u"http://localhost/"), "a=3; b=2");  // a keeps its place
  Receive(u"http://localhost/", "b=x; Max-Age=0");
  EXPECT_EQ(SentTo(u"http://localhost/"), "a=3");
  Receive(u"http://localhost/", "a=gone; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_TRUE(store_.Empty());
}

TEST_F(CookieStoreTest, SameNameWithAnotherPathIsAnotherCookieSentLongerPathFirst) {
  Receive(u"http://localhost/", "id=root; Path=/");
  Receive(u"http://localhost/", "id=deep; Path=/a/b");
  Receive(u"http://localhost/", "x=mid; Path=/a");
  EXPECT_EQ(SentTo(u"http://localhost/a/b/c"), "id=deep; x=mid; id=root");
  EXPECT_EQ(SentTo(u"http://localhost/a"), "x=mid; id=root");
}

TEST_F(CookieStoreTest, MalformedSetCookieIsIgnoredAndBlanksAreTrimmed) {
  Receive(u"http://localhost/", "no-equals-sign");
  Receive(u"http://localhost/", "=value-without-name");
  Receive(u"http://localhost/", "");
  Receive(u"http://localhost/", "a=b\rX-Injected: 1");
  Receive(u"http://localhost/", "a=b\x7F");
  EXPECT_TRUE(store_.Empty());
  Receive(u"http://localhost/", "  token = a b=c  ; Path = / ; Domain=");
  Receive(u"http://localhost/", "empty=");
  EXPECT_EQ(SentTo(u"http://localhost/x"), "token=a b=c; empty=");
}

}  // namespace
}  // namespace korvex
