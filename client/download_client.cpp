#include "client/download_client.h"

#include <algorithm>
#include <utility>

#include "core/ascii.h"
#include "core/error.h"
#include "core/url.h"

namespace korvex {
namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

bool NeedsEncoding(unsigned char byte) {
  return byte < 33 || byte > 126 || std::string_view("\"`#+<>?\\^{|}").find(static_cast<char>(byte)) !=
                                        std::string_view::npos;
}

std::string EncodePath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte == '%' && i + 2 < path.size() && IsHexDigit(path[i + 1]) && IsHexDigit(path[i + 2])) {
      out += '%';
    } else if (byte == '%' || NeedsEncoding(byte)) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

// Where the path starts (after "scheme://authority") and ends (at "?" or the end).
std::pair<std::size_t, std::size_t> PathBounds(TextView url) {
  const auto scheme = url.find(u"://");
  const std::size_t authority = scheme == TextView::npos ? 0 : scheme + 3;
  const auto pathStart = url.find_first_of(u"/?", authority);
  if (pathStart == TextView::npos) return {url.size(), url.size()};
  const auto query = url.find(u'?', pathStart);
  return {pathStart, query == TextView::npos ? url.size() : query};
}

bool IsRedirect(int status) {
  return status == 300 || status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool StartsWithNoCase(TextView text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (text[i] > 127 || LowerAscii(static_cast<char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

DownloadWatch::DownloadWatch(const DownloadLimits& limits, Text url, Clock clock)
    : limits_(limits), url_(std::move(url)), clock_(std::move(clock)), start_(clock_()) {}

std::chrono::milliseconds DownloadWatch::NextWait() const {
  using std::chrono::milliseconds;
  const auto left = limits_.total - std::chrono::duration_cast<milliseconds>(clock_() - start_);
  if (left <= milliseconds::zero()) FailTooLong();
  return std::min(limits_.stall, left);
}

void DownloadWatch::Received(std::uint64_t bytes) {
  if (bytes > limits_.maxBytes - std::min(received_, limits_.maxBytes)) {
    throw DownloadLimitExceeded(
        Format(kDownloadTooLarge, {url_, ToText(static_cast<std::int64_t>(limits_.maxBytes / (1024 * 1024)))}));
  }
  if (clock_() - start_ >= limits_.total) FailTooLong();
  received_ += bytes;
}

void DownloadWatch::TimedOut() const {
  if (clock_() - start_ >= limits_.total) FailTooLong();
  throw DownloadLimitExceeded(Format(
      kDownloadStalled,
      {url_, ToText(std::chrono::duration_cast<std::chrono::seconds>(limits_.stall).count())}));
}

void DownloadWatch::FailTooLong() const {
  throw DownloadLimitExceeded(Format(
      kDownloadTooLong,
      {url_, ToText(std::chrono::duration_cast<std::chrono::seconds>(limits_.total).count())}));
}

void MemoryStream::Write(std::string_view bytes) {
  const std::uint64_t end = position_ + bytes.size();
  if (end > limit_) throw KorError(Format(kMemoryStreamFull, {ToText(static_cast<std::int64_t>(limit_))}));
  if (end > bytes_.size()) bytes_.resize(static_cast<std::size_t>(end));
  bytes_.replace(static_cast<std::size_t>(position_), bytes.size(), bytes);
  position_ = end;
}

void MemoryStream::Truncate(std::uint64_t size) {
  if (size < bytes_.size()) bytes_.resize(static_cast<std::size_t>(size));
}

Text DownloadResponse::StatusLine() const {
  const auto end = headers.find("\r\n");
  return FromAnsi(std::string_view(headers).substr(0, end));
}

std::vector<std::string> DownloadResponse::Header(std::string_view name) const {
  std::vector<std::string> values;
  std::string_view rest = headers;
  bool first = true;
  while (!rest.empty()) {
    const auto end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    if (std::exchange(first, false)) continue;  // the status line
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && EqualsNoCase(Trim(line.substr(0, colon)), name)) {
      values.emplace_back(Trim(line.substr(colon + 1)));
    }
  }
  return values;
}

Text EncodeUrlPath(TextView url) {
  const auto [start, end] = PathBounds(url);
  return Text(url.substr(0, start)) + FromAscii(EncodePath(ToUtf8(url.substr(start, end - start)))) +
         Text(url.substr(end));
}

Text ResolveLocation(TextView base, TextView location) {
  if (const auto colon = location.find(u"://"); colon != TextView::npos &&
                                                location.find_first_of(u"/?#") > colon) {
    return Text(location);
  }
  const auto schemeEnd = base.find(u"://");
  const TextView scheme = base.substr(0, schemeEnd);
  if (location.substr(0, 2) == u"//") return Text(scheme) + u":" + Text(location);
  const auto [pathStart, pathEnd] = PathBounds(base);
  const TextView origin = base.substr(0, pathStart);
  if (!location.empty() && location.front() == u'/') return Text(origin) + Text(location);
  TextView path = base.substr(pathStart, pathEnd - pathStart);
  if (location.empty()) return Text(base);
  if (location.front() == u'?') return Text(origin) + Text(path.empty() ? u"/" : path) + Text(location);
  const auto slash = path.rfind(u'/');
  const TextView directory = slash == TextView::npos ? TextView(u"/") : path.substr(0, slash + 1);
  return Text(origin) + Text(directory) + Text(location);
}

TDownloadClient::TDownloadClient(std::unique_ptr<DownloadTransport> transport, CookieStore::Clock clock,
                                 DownloadLimits limits, DownloadWatch::Clock steadyClock)
    : transport_(std::move(transport)),
      cookies_(std::move(clock)),
      limits_(limits),
      steadyClock_(std::move(steadyClock)) {}

DownloadResponse TDownloadClient::Get(const Text& url, ByteStream& target) {
  const std::uint64_t position = target.Position();
  const std::uint64_t size = target.Size();
  DownloadWatch watch(limits_, url, steadyClock_);
  try {
    Text current = url;
    for (int redirects = 0;; ++redirects) {
      const Text encoded = EncodeUrlPath(current);
      const Url parsed = ParseUrl(encoded);
      DownloadResponse response = transport_->Exchange(encoded, cookies_.HeaderFor(parsed), target, watch);
      for (const std::string& setCookie : response.Header("Set-Cookie")) cookies_.Receive(setCookie, parsed);
      const std::vector<std::string> location = response.Header("Location");
      if (!IsRedirect(response.statusCode) || location.empty() || location.front().empty()) {
        target.Seek(position);
        return response;
      }
      if (redirects == kMaxRedirects) throw KorError(Format(kTooManyRedirects, {ToText(kMaxRedirects)}));
      const Text next = ResolveLocation(current, FromUtf8(location.front()));
      if (parsed.Secure() && !StartsWithNoCase(next, "https://")) {
        throw KorError(Format(kInsecureRedirect, {next}));
      }
      target.Truncate(size);
      target.Seek(position);
      current = next;
    }
  } catch (...) {
    target.Seek(position);
    throw;
  }
}

}  // namespace korvex
