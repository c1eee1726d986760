#include "core/http_response.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/error.h"
#include "tests/support/expect_error.h"

namespace korvex {
namespace {

// Feeds `bytes` in pieces of `piece` bytes, then a close when asked; returns the reader.
ResponseReader Read(std::string_view bytes, std::size_t piece, bool closeAfter) {
  ResponseReader reader;
  for (std::size_t pos = 0; pos < bytes.size() && !reader.Done(); pos += piece) {
    reader.Feed(bytes.substr(pos, piece));
  }
  if (closeAfter) reader.FeedClose();
  return reader;
}

// The message of the KorError that reading throws, or nullopt.
std::optional<Text> FailureOf(std::string_view bytes, std::size_t piece, bool closeAfter) {
  const std::optional<KorError> error = testing::KorErrorOf([&] { Read(bytes, piece, closeAfter); });
  if (!error) return std::nullopt;
  return error->Message();
}

struct FramingCase {
  const char* name;
  const char* bytes;
  bool closeAfter;  // the server closes after these bytes
  int status;
  const char* body;
  bool keepAlive;
};

constexpr FramingCase kFramingCases[] = {
    {"content length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, 200, "hello", true},
    {"content length zero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, 200, "", true},
    {"equal repeated lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2, 2\r\nContent-Length: 2\r\n\r\nok", false, 200,
     "ok", true},
    {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
     false, 200, "hello world", true},
    {"chunked with extension, upper-case hex and trailer",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\nA;name=v\r\n0123456789\r\n0\r\nX-T: 1\r\n\r\n",
     false, 200, "0123456789", true},
    // Framed by the chunks, but something on the way may have framed it by the length.
    {"chunked wins over length, and the connection is not kept",
     "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n", false, 200,
     "ok", false},
    {"HTTP/1.0 chunked is read as chunked, and the connection is not kept",
     "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n",
     false, 200, "ok", false},
    {"chunked in a later field", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n"
     "2\r\nok\r\n0\r\n\r\n", false, 200, "ok", true},
    {"chunked followed by another coding reads until close",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: gzip\r\n\r\n2\r\nok\r\n0\r\n\r\nrest",
     true, 200, "2\r\nok\r\n0\r\n\r\nrest", false},
    {"chunked followed by identity reads until close",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\ntransfer-encoding: identity\r\n\r\n0\r\n\r\nX", true,
     200, "0\r\n\r\nX", false},
    {"chunk sizes with leading zeros",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n000000005\r\nhello\r\n00000000000000000\r\n\r\n", false,
     200, "hello", true},
    {"tab in a value and obs-text in the reason", "HTTP/1.1 200 \xC4rger\r\nX: a\tb\r\nContent-Length: 2\r\n\r\nok",
     false, 200, "ok", true},
    {"chunk holding CR LF", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\na\r\nb\r\n0\r\n\r\n", false,
     200, "a\r\nb", true},
    {"until close", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n1.2.3.4\r\n", true, 200, "1.2.3.4\r\n",
     false},
    {"unknown transfer coding reads until close", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nzz", true, 200,
     "zz", false},
    {"204 has no body", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", false, 204, "", true},
    {"304 has no body", "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n", false, 304, "", true},
    {"connection close", "HTTP/1.1 200 OK\r\nConnection: Close\r\nContent-Length: 2\r\n\r\nok", false, 200, "ok",
     false},
    {"close among other tokens", "HTTP/1.1 200 OK\r\nConnection: upgrade, close\r\nContent-Length: 2\r\n\r\nok",
     false, 200, "ok", false},
    {"HTTP/1.0 closes by default", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", false, 200, "ok", false},
    {"HTTP/1.0 keep-alive", "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok", false, 200,
     "ok", true},
    {"bare line feeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", false, 200, "ok", true},
    {"100 continue dropped", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false,
     200, "ok", true},
    {"several interim answers with headers",
     "HTTP/1.1 102 Processing\r\nX: 1\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
     "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\n?",
     false, 404, "?", true},
    {"101 ends the answer", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n\r\nrest", false, 101, "", false},
    {"error status keeps its body", "HTTP/1.1 500 Oops\r\nContent-Length: 3\r\n\r\nbad", false, 500, "bad", true},
};

TEST(ResponseReader, FramingGivesTheBodyAndConnectionDecision) {
  for (const FramingCase& c : kFramingCases) {
    // Whole, in small odd pieces and byte by byte must all read the same answer.
    for (std::size_t piece : {std::size_t{1 << 20}, std::size_t{7}, std::size_t{1}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const ResponseReader reader = Read(c.bytes, piece, c.closeAfter);
      ASSERT_TRUE(reader.Done());
      EXPECT_EQ(reader.Response().status, c.status);
      EXPECT_EQ(reader.Response().body, c.body);
      EXPECT_EQ(reader.Response().keepAlive, c.keepAlive);
    }
  }
}

TEST(ResponseReader, ServerClosingEarlyEndsTheBodyWithoutFailure) {
  struct Case {
    const char* bytes;
    const char* body;
  };
  static constexpr Case kCases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort", "short"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", ""},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel", "hel"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", "hello"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n", "hello"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.bytes);
    const ResponseReader reader = Read(c.bytes, 1 << 20, true);
    EXPECT_TRUE(reader.Done());
    EXPECT_EQ(reader.Response().body, c.body);
    EXPECT_FALSE(reader.Response().keepAlive);
  }
}

TEST(ResponseReader, ServerClosingBeforeTheHeadEndsFails) {
  for (const char* bytes : {"", "HTTP/1.1 2", "HTTP/1.1 200 OK\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n",
                            "HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 100 Continue\r\nX: 1\r\n"}) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(FailureOf(bytes, 1 << 20, true), Text(kConnectionClosedGracefully));
  }
}

TEST(ResponseReader, MalformedAnswersFail) {
  static constexpr const char* kCases[] = {
      "SSH-2.0-OpenSSH\r\n",
      "HTTP/1.1 abc OK\r\n",
      "HTTP/1.1 20 OK\r\n",
      "HTTP/1.1 2000 OK\r\n",
      "HTTP/1.1 099 Low\r\n",
      "HTTP/x.1 200 OK\r\n",
      "HTTP/1.1\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nok",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1ffffffff\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nokX\r\n0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0000000100000000\r\n",
      // A CR that ends no line, and control characters other than HTAB.
      "HTTP/1.1 200 OK\r\rContent-Length: 4\r\n\r\nabcd",
      "HTTP/1.1 200 OK\r\nFoo: 1\rBar: 2\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 200 OK\rX\r\n",
      "HTTP/1.1 200 O\x01K\r\n",
      "HTTP/1.1 100 Continue\r\nX: \x7F\r\n\r\n",
      "HTTP/1.1 200 OK\r\nFoo: a\x1b[2Jb\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nF\x01oo: 1\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nX: 1\r2\r\n\r\n",
      // Field names that are no token directly followed by the colon.
      "HTTP/1.1 200 OK\r\nTransfer-Encoding : chunked\r\n\r\n0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nen-US Content-Type: text/xml\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 200 OK\r\nno colon here\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 200 OK\r\n: no name\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 200 OK\r\n\"X\": 1\r\nContent-Length: 0\r\n\r\n",
      "HTTP/1.1 100 Continue\r\nBad Name: 1\r\n\r\n",
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nBad Trailer: 1\r\n\r\n",
  };
  for (std::string_view bytes : kCases) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(FailureOf(bytes, 1 << 20, false), Text(kInvalidResponse));
    EXPECT_EQ(FailureOf(bytes, 1, false), Text(kInvalidResponse));
  }
  // A NUL, which a C string could not hold.
  using namespace std::string_literals;
  for (const std::string& bytes : {"HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\n"s, "HTTP/1.1 200 OK\r\nX\0: 1\r\n\r\n"s}) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(FailureOf(bytes, 1 << 20, false), Text(kInvalidResponse));
  }
}

TEST(ResponseReader, BodyIsCappedAtOneMebibyte) {
  const std::string atCap(kMaxBodyBytes, 'x');
  const std::string overCap(kMaxBodyBytes + 1, 'x');
  const std::string lengthHead = "HTTP/1.1 200 OK\r\nContent-Length: ";
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string untilCloseHead = "HTTP/1.1 200 OK\r\n\r\n";

  EXPECT_EQ(Read(lengthHead + std::to_string(kMaxBodyBytes) + "\r\n\r\n" + atCap, 1 << 16, false).Response().body.size(),
            kMaxBodyBytes);
  EXPECT_EQ(Read(untilCloseHead + atCap, 1 << 16, true).Response().body.size(), kMaxBodyBytes);

  struct Case {
    const char* name;
    std::string bytes;
    bool closeAfter;
  };
  const Case overCases[] = {
      // Announced too long: refused before any of the body is read.
      {"announced length", lengthHead + std::to_string(kMaxBodyBytes + 1) + "\r\n\r\n", false},
      {"until close", untilCloseHead + overCap, true},
      {"one big chunk", chunkedHead + "100001\r\n", false},
      {"chunks adding up", chunkedHead + "80000\r\n" + std::string(0x80000, 'x') + "\r\n80000\r\n" +
                               std::string(0x80000, 'x') + "\r\n1\r\n",
       false},
      {"endless head", "HTTP/1.1 200 OK\r\n" + std::string(kMaxHeadBytes, 'h'), false},
      {"endless headers", "HTTP/1.1 200 OK\r\n" + [] {
         std::string many;
         while (many.size() <= kMaxHeadBytes) many += "X-Filler: 0123456789\r\n";
         return many;
       }(),
       false},
      {"endless interim answers", [] {
         std::string many;
         while (many.size() <= kMaxHeadBytes) many += "HTTP/1.1 100 Continue\r\n\r\n";
         return many;
       }(),
       false},
      {"endless trailers", chunkedHead + "1\r\nx\r\n0\r\n" + [] {
         std::string many;
         while (many.size() <= kMaxHeadBytes) many += "X-Trailer: 0123456789\r\n";
         return many;
       }(),
       false},
  };
  for (const Case& c : overCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FailureOf(c.bytes, 1 << 16, c.closeAfter), Text(kResponseTooLarge));
  }
}

// The head's limit counts every byte once, line ends and blank lines included, so that it holds
// exactly and however the bytes arrive.
TEST(ResponseReader, HeadLimitIsExactWhateverTheSplit) {
  const std::string status = "HTTP/1.1 200 OK\r\n";
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  // Answers whose counted bytes total `size`: the head, plus the trailers of a chunked answer.
  struct Shape {
    const char* name;
    std::string (*make)(std::size_t size);
  };
  static const Shape kShapes[] = {
      {"blank lines before the status line",
       [](std::size_t size) {
         const std::string rest = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
         return std::string(size - rest.size(), '\n') + rest;
       }},
      {"one long header line",
       [](std::size_t size) {
         const std::string frame = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX: \r\n\r\n";
         return "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nX: " + std::string(size - frame.size(), 'v') + "\r\n\r\n";
       }},
      {"one long trailer line",
       [](std::size_t size) {
         const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
         const std::string frame = "X: \n\n";
         return head + "1\r\nx\r\n0\r\nX: " + std::string(size - head.size() - frame.size(), 't') + "\n\n";
       }},
  };
  for (const Shape& shape : kShapes) {
    for (std::size_t piece : {std::size_t{1 << 20}, std::size_t{16384}, std::size_t{7}}) {
      SCOPED_TRACE(std::string(shape.name) + ", pieces of " + std::to_string(piece));
      const ResponseReader atLimit = Read(shape.make(kMaxHeadBytes), piece, false);
      EXPECT_TRUE(atLimit.Done());
      EXPECT_EQ(FailureOf(shape.make(kMaxHeadBytes + 1), piece, false), Text(kResponseTooLarge));
    }
  }
}

TEST(ResponseReader, HeadLimitCannotBeSwitchedOff) {
  const std::string manyLineFeeds(kMaxHeadBytes + 1, '\n');
  std::string bigHeaders;
  while (bigHeaders.size() < 2 * 1024 * 1024) bigHeaders += "X-Filler: 0123456789012345678901234567890123456789\r\n";
  std::string tenThousandLines;
  for (int i = 0; i < 10000; ++i) tenThousandLines += "header-key: header-value\r\n";
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case kCases[] = {
      {"line feeds, then 2 MB of headers", manyLineFeeds + "HTTP/1.1 200 OK\r\n" + bigHeaders + "\r\n"},
      {"line feeds, then a status line of 2 MB", manyLineFeeds + "HTTP/1.1 200 " + std::string(2 * 1024 * 1024, 'x')},
      {"10,000 header lines", "HTTP/1.1 200 OK\r\n" + tenThousandLines + "\r\n"},
  };
  for (const Case& c : kCases) {
    for (std::size_t piece : {std::size_t{1 << 22}, std::size_t{16384}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(FailureOf(c.bytes, piece, true), Text(kResponseTooLarge));
    }
  }

  // A line that arrives in pieces counts once, as it does when it arrives whole.
  const std::string longLine = "HTTP/1.1 200 OK\r\nX: " + std::string(40 * 1024, 'v') + "\r\nContent-Length: 0\r\n\r\n";
  for (std::size_t piece : {std::size_t{1 << 20}, std::size_t{1000}, std::size_t{1}}) {
    SCOPED_TRACE(piece);
    EXPECT_TRUE(Read(longLine, piece, false).Done());
  }
}

TEST(ResponseReader, BytesAfterTheAnswerAreNotConsumed) {
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  ResponseReader reader;
  EXPECT_EQ(reader.Feed(answer + "HTTP/1.1 200 OK\r\n"), answer.size());
  EXPECT_TRUE(reader.Done());
  EXPECT_EQ(reader.Feed("more"), 0u);

  const std::string switching = "HTTP/1.1 101 Switching Protocols\r\n";
  ResponseReader upgraded;
  EXPECT_EQ(upgraded.Feed(switching + "Upgrade: x\r\n\r\n\x01\x02"), switching.size());
}

TEST(ResponseReader, KeepsTheStatusLineAndHeadersAsReceived) {
  const ResponseReader reader =
      Read("HTTP/1.1 404 Nicht  gefunden \r\nSet-Cookie: a=1\r\nContent-Type:  text/plain \r\n"
           "X-Folded: one\r\n  two\r\nset-cookie: b=2\r\nContent-Length: 0\r\n\r\n",
           1 << 20, false);
  const HttpResponse& response = reader.Response();
  EXPECT_EQ(response.statusLine, "HTTP/1.1 404 Nicht  gefunden ");
  EXPECT_EQ(response.versionMajor, 1);
  EXPECT_EQ(response.versionMinor, 1);
  EXPECT_EQ(response.Values("Set-Cookie"), (std::vector<std::string>{"a=1", "b=2"}));
  ASSERT_NE(response.Header("content-type"), nullptr);
  EXPECT_EQ(*response.Header("content-type"), "text/plain");
  ASSERT_NE(response.Header("X-Folded"), nullptr);
  EXPECT_EQ(*response.Header("X-Folded"), "one two");
  EXPECT_EQ(response.Header("Location"), nullptr);
}

TEST(ResponseReader, InterimAnswerHeadersAreDropped) {
  const ResponseReader reader = Read(
      "HTTP/1.1 103 Early Hints\r\nSet-Cookie: early=1\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 1 << 20,
      false);
  EXPECT_EQ(reader.Response().statusLine, "HTTP/1.1 200 OK");
  EXPECT_TRUE(reader.Response().Values("Set-Cookie").empty());
}

}  // namespace
}  // namespace korvex
