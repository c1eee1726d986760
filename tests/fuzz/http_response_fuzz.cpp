// libFuzzer target for the response reader. The first input byte picks the piece size and
// whether the server closes at the end; the rest are the server's bytes. Reading them whole and
// in pieces must give the same outcome, and no outcome may break the reader's limits. Headers
// of a complete answer also go through the cookie store and the charset choice, which take
// server bytes too.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/charset.h"
#include "core/cookies.h"
#include "core/error.h"
#include "core/http_response.h"
#include "core/url.h"

namespace {

struct Outcome {
  std::optional<korvex::Text> failure;
  bool done = false;
  std::size_t consumed = 0;
  korvex::HttpResponse response;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

Outcome Read(std::string_view bytes, std::size_t piece, bool closeAtEnd) {
  Outcome out;
  korvex::ResponseReader reader;
  try {
    for (std::size_t pos = 0; pos < bytes.size() && !reader.Done(); pos += piece) {
      const std::string_view part = bytes.substr(pos, piece);
      const std::size_t taken = reader.Feed(part);
      Check(taken <= part.size());
      Check(taken == part.size() || reader.Done());
      out.consumed += taken;
    }
    if (closeAtEnd) reader.FeedClose();
  } catch (const korvex::KorError& error) {
    out.failure = error.Message();
  }
  out.done = reader.Done();
  out.response = reader.Response();
  Check(out.response.body.size() <= korvex::kMaxBodyBytes);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = (data[0] & 0x0F) + 1;
  const bool closeAtEnd = (data[0] & 0x80) != 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const Outcome whole = Read(bytes, bytes.size() + 1, closeAtEnd);
  const Outcome pieces = Read(bytes, piece, closeAtEnd);
  Check(whole.failure == pieces.failure);
  Check(whole.done == pieces.done);
  if (whole.failure) return 0;
  Check(whole.consumed == pieces.consumed);
  Check(whole.response.status == pieces.response.status);
  Check(whole.response.statusLine == pieces.response.statusLine);
  Check(whole.response.body == pieces.response.body);
  Check(whole.response.keepAlive == pieces.response.keepAlive);

  if (whole.done) {
    korvex::CookieStore cookies([] { return std::int64_t{1623233894}; });
    const korvex::Url url = korvex::ParseUrl(u"http://www.example.test/dir/page?x=1");
    for (const std::string& setCookie : whole.response.Values("Set-Cookie")) cookies.Receive(setCookie, url);
    cookies.HeaderFor(url);
    const std::string* contentType = whole.response.Header("Content-Type");
    korvex::ChooseCharset(contentType ? *contentType : std::string(), whole.response.body);
  }
  return 0;
}
