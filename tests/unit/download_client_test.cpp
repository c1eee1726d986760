#include "client/download_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <vector>

#include "core/error.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

using testing::ThrowsKorError;

struct Sent {
  Text url;
  std::string cookie;
};

struct Reply {
  std::string head;  // status line and header lines, each ending in CR LF
  std::string body;
  bool fail = false;  // throw after writing the body
};

// Answers each exchange with the next scripted reply and records what was sent.
class FakeTransport : public DownloadTransport {
 public:
  FakeTransport(std::vector<Sent>& sent, std::deque<Reply> replies) : sent_(sent), replies_(std::move(replies)) {}
  DownloadResponse Exchange(const Text& url, const std::string& cookie, ByteStream& target,
                            DownloadWatch&) override {
    sent_.push_back({url, cookie});
    if (replies_.empty()) throw KorError(u"no reply scripted");
    Reply reply = replies_.front();
    replies_.pop_front();
    target.Write(reply.body);
    if (reply.fail) throw KorError(u"Fehler beim Empfangen der Daten: (12002) Zeitüberschreitung");
    DownloadResponse response;
    response.headers = reply.head;
    response.statusCode = std::stoi(reply.head.substr(9, 3));
    return response;
  }

 private:
  std::vector<Sent>& sent_;
  std::deque<Reply> replies_;
};

Reply Redirect(const std::string& location, const std::string& extra = "") {
  return {"HTTP/1.1 302 Found\r\nLocation: " + location + "\r\n" + extra, "moved here"};
}
Reply Ok(const std::string& body, const std::string& extra = "") { return {"HTTP/1.1 200 OK\r\n" + extra, body}; }

class DownloadClientTest : public ::testing::Test {
 protected:
  TDownloadClient Client(std::deque<Reply> replies) {
    return TDownloadClient(std::make_unique<FakeTransport>(sent_, std::move(replies)), [] { return 1700000000; });
  }
  std::vector<Sent> sent_;
};

TEST_F(DownloadClientTest, FollowsARedirectAsAGetAndKeepsOnlyTheFinalBody) {
  TDownloadClient client = Client({Redirect("/neu/datei.bin"), Ok("final")});
  MemoryStream target;
  const DownloadResponse response = client.Get(u"https://host:8443/alt/datei.bin", target);
  EXPECT_EQ(response.statusCode, 200);
  EXPECT_EQ(target.Bytes(), "final");
  EXPECT_EQ(target.Position(), 0u);
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(sent_[1].url, u"https://host:8443/neu/datei.bin");
}

TEST_F(DownloadClientTest, WritesFromTheTargetsPositionAndPutsItBackAfterRedirectsAndFailures) {
  MemoryStream target;
  target.Write("vorher|");
  target.Seek(6);
  TDownloadClient client = Client({Redirect("a"), Redirect("b"), Ok("body"), {"HTTP/1.1 200 OK\r\n", "teil", true}});
  client.Get(u"http://host/x/start", target);
  EXPECT_EQ(target.Bytes(), "vorherbody");
  EXPECT_EQ(target.Position(), 6u);
  EXPECT_EQ(sent_.back().url, u"http://host/x/b");

  // What arrived before a failure stays; the position is still put back.
  EXPECT_THROW(client.Get(u"http://host/x/start", target), KorError);
  EXPECT_EQ(target.Bytes(), "vorherteil");
  EXPECT_EQ(target.Position(), 6u);
}

TEST_F(DownloadClientTest, TheSixthRedirectFails) {
  std::deque<Reply> replies;
  for (int i = 0; i < 6; ++i) replies.push_back(Redirect("/r" + std::to_string(i)));
  replies.push_back(Ok("never"));
  TDownloadClient client = Client(replies);
  MemoryStream target;
  ASSERT_TRUE(ThrowsKorError([&] { client.Get(u"https://host/", target); },
                             u"Maximale Anzahl von Umleitungen (5) überschritten"));
  EXPECT_EQ(sent_.size(), 6u);
  EXPECT_EQ(target.Position(), 0u);

  // Five are fine.
  sent_.clear();
  std::deque<Reply> five;
  for (int i = 0; i < 5; ++i) five.push_back(Redirect("/r" + std::to_string(i)));
  five.push_back(Ok("fünf"));
  TDownloadClient second = Client(five);
  MemoryStream other;
  EXPECT_EQ(second.Get(u"https://host/", other).statusCode, 200);
  EXPECT_EQ(other.Bytes(), "fünf");
}

TEST_F(DownloadClientTest, ARedirectFromHttpsToAnotherSchemeFails) {
  for (const char* location : {"http://host/datei", "ftp://host/datei"}) {
    SCOPED_TRACE(location);
    sent_.clear();
    TDownloadClient client = Client({Redirect(location), Ok("unsicher")});
    MemoryStream target;
    ASSERT_TRUE(ThrowsKorError([&] { client.Get(u"https://host/datei", target); },
                               Format(kInsecureRedirect, {FromAscii(location)})));
    EXPECT_EQ(sent_.size(), 1u);
  }
}

TEST_F(DownloadClientTest, ErrorStatusesAndRedirectsWithoutLocationEndNormally) {
  TDownloadClient client =
      Client({{"HTTP/1.1 404 Not Found\r\n", "Seite fehlt"}, {"HTTP/1.1 302 Found\r\n", "ohne Ziel"},
              {"HTTP/1.1 304 Not Modified\r\nLocation: /x\r\n", ""}});
  MemoryStream target;
  const DownloadResponse notFound = client.Get(u"https://host/a", target);
  EXPECT_EQ(notFound.statusCode, 404);
  EXPECT_EQ(notFound.StatusLine(), u"HTTP/1.1 404 Not Found");
  EXPECT_EQ(target.Bytes(), "Seite fehlt");
  MemoryStream second;
  EXPECT_EQ(client.Get(u"https://host/b", second).statusCode, 302);
  EXPECT_EQ(second.Bytes(), "ohne Ziel");
  MemoryStream third;
  EXPECT_EQ(client.Get(u"https://host/c", third).statusCode, 304);
  EXPECT_EQ(sent_.size(), 3u);
}

TEST_F(DownloadClientTest, SendsBackTheCookiesOfEarlierAnswersIncludingRedirects) {
  TDownloadClient client = Client({Redirect("/b", "Set-Cookie: sitzung=1; Path=/\r\n"),
                                   Ok("x", "set-cookie: zweites=2; Path=/b\r\n"), Ok("y")});
  MemoryStream target;
  client.Get(u"https://host/a", target);
  client.Get(u"https://host/b", target);
  ASSERT_EQ(sent_.size(), 3u);
  EXPECT_EQ(sent_[0].cookie, "");
  EXPECT_EQ(sent_[1].cookie, "sitzung=1");
  EXPECT_EQ(sent_[2].cookie, "zweites=2; sitzung=1");
}

// A transport that reads a body as the WinHTTP one does: it waits for every chunk as long as the
// watch allows, on a clock the test moves. A chunk that comes later than that is a stall.
class TimedTransport : public DownloadTransport {
 public:
  struct Chunk {
    std::chrono::milliseconds after;  // since the previous one
    std::uint64_t bytes;
  };
  TimedTransport(std::chrono::steady_clock::time_point& now, std::vector<Chunk> chunks)
      : now_(now), chunks_(std::move(chunks)) {}
  DownloadResponse Exchange(const Text&, const std::string&, ByteStream& target, DownloadWatch& watch) override {
    for (const Chunk& chunk : chunks_) {
      const std::chrono::milliseconds wait = watch.NextWait();
      if (chunk.after > wait) {
        now_ += wait;
        watch.TimedOut();
      }
      now_ += chunk.after;
      watch.Received(chunk.bytes);
      target.Write(std::string(chunk.bytes, 'x'));
    }
    DownloadResponse response;
    response.statusCode = 200;
    response.headers = "HTTP/1.1 200 OK\r\n";
    return response;
  }

 private:
  std::chrono::steady_clock::time_point& now_;
  std::vector<Chunk> chunks_;
};

TEST(DownloadLimitsTest, AStallALongDownloadAndAnOversizedBodyFailWithTheirMessage) {
  using namespace std::chrono_literals;
  using Chunks = std::vector<TimedTransport::Chunk>;
  const DownloadLimits limits{60s, 1024 * 1024, 300s};
  struct Case {
    const char* name;
    Chunks chunks;
    const char16_t* failure;  // null: the download succeeds
    std::uint64_t written;
  };
  const Case cases[] = {
      {"steady within all limits", Chunks{{1s, 400}, {59s, 1024 * 1024 - 400}}, nullptr, 1024 * 1024},
      {"no byte for longer than the stall limit", Chunks{{1s, 10}, {61s, 10}},
       u"Der Download von \"http://host/a.exe\" wurde abgebrochen: 60 Sekunden lang kamen keine Daten an", 10},
      {"one byte short of the stall limit, again and again, until the time limit",
       Chunks(10, TimedTransport::Chunk{59s, 1}),
       u"Der Download von \"http://host/a.exe\" wurde abgebrochen: er hat länger als 300 Sekunden gedauert", 5},
      {"one byte more than the size cap", Chunks{{1s, 1024 * 1024 - 1}, {1s, 2}},
       u"Der Download von \"http://host/a.exe\" wurde abgebrochen: die Datei ist größer als 1 MiB", 1024 * 1024 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::chrono::steady_clock::time_point now{};
    TDownloadClient client(std::make_unique<TimedTransport>(now, c.chunks), [] { return 1700000000; }, limits,
                           [&now] { return now; });
    MemoryStream target;
    if (c.failure == nullptr) {
      EXPECT_EQ(client.Get(u"http://host/a.exe", target).statusCode, 200);
    } else {
      EXPECT_TRUE(ThrowsKorError([&] { client.Get(u"http://host/a.exe", target); }, c.failure));
      EXPECT_THROW(client.Get(u"http://host/a.exe", target), DownloadLimitExceeded);
    }
    EXPECT_EQ(target.Size(), c.written);
  }
}

TEST(DownloadLimitsTest, TheDefaultsAllowARealProgramUpdate) {
  const DownloadLimits limits;
  EXPECT_EQ(limits.stall, std::chrono::seconds(60));
  EXPECT_EQ(limits.maxBytes, 256u * 1024 * 1024);
  EXPECT_GE(limits.total, std::chrono::minutes(10));
}

TEST(DownloadUrl, PercentEncodesThePathOnly) {
  struct Case {
    const char16_t* url;
    const char16_t* sent;
  };
  static constexpr Case kCases[] = {
      {u"https://h/updates/neue datei.exe", u"https://h/updates/neue%20datei.exe"},
      {u"https://h/a\"b`c#d+e<f>g\\h^i{j|k}l", u"https://h/a%22b%60c%23d%2Be%3Cf%3Eg%5Ch%5Ei%7Bj%7Ck%7Dl"},
      {u"https://h/grüße", u"https://h/gr%C3%BC%C3%9Fe"},
      {u"https://h/%41%zz%4", u"https://h/%41%25zz%254"},
      {u"https://h/a\tb\x7F", u"https://h/a%09b%7F"},
      {u"https://h:1/p/a b?x=1 2&y", u"https://h:1/p/a%20b?x=1 2&y"},
      {u"https://h", u"https://h"},
      {u"https://h?q", u"https://h?q"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.url));
    EXPECT_EQ(EncodeUrlPath(c.url), c.sent);
  }
}

TEST(DownloadUrl, ResolvesRedirectLocations) {
  struct Case {
    const char16_t* location;
    const char16_t* resolved;
  };
  static constexpr Case kCases[] = {
      {u"https://other:9/x", u"https://other:9/x"},
      {u"//other/x", u"https://other/x"},
      {u"/root?q=1", u"https://h:8/root?q=1"},
      {u"sibling", u"https://h:8/dir/sibling"},
      {u"?q=2", u"https://h:8/dir/file?q=2"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(ToUtf8(c.location));
    EXPECT_EQ(ResolveLocation(u"https://h:8/dir/file?q=1", c.location), c.resolved);
  }
}

TEST(MemoryStreamTest, RefusesToGrowBeyondItsLimit) {
  MemoryStream stream(4);
  stream.Write("1234");
  ASSERT_TRUE(ThrowsKorError([&] { stream.Write("5"); }, Format(kMemoryStreamFull, {u"4"})));
  EXPECT_EQ(stream.Bytes(), "1234");
}

}  // namespace
}  // namespace korvex
