#include "core/cookies.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "core/ascii.h"

namespace korvex {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Host names are ASCII on the wire; anything else can match no cookie domain anyway.
std::string HostOf(const Url& url) {
  std::string host;
  for (char16_t c : url.host) host += c < 128 ? LowerAscii(static_cast<char>(c)) : '?';
  return host;
}

std::string PathOf(const Url& url) {
  std::string path;
  for (char16_t c : url.target.substr(0, url.target.find(u'?'))) path += c < 128 ? static_cast<char>(c) : '?';
  return path;
}

std::string DefaultPath(const std::string& requestPath) {
  if (requestPath.empty() || requestPath.front() != '/') return "/";
  const auto slash = requestPath.rfind('/');
  return slash == 0 ? "/" : requestPath.substr(0, slash);
}

bool IsIpAddress(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) { return IsDigit(c) || c == '.'; });
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.' && !IsIpAddress(host);
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

bool IsDateDelimiter(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u == 0x09 || (u >= 0x20 && u <= 0x2F) || (u >= 0x3B && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
         (u >= 0x7B && u <= 0x7E);
}

// Reads 1 to `maxDigits` digits (at least `minDigits`) at the start of `token`, followed by the
// end or a non-digit.
bool LeadingNumber(std::string_view token, std::size_t minDigits, std::size_t maxDigits, int& out,
                   std::string_view* rest = nullptr) {
  std::size_t n = 0;
  while (n < token.size() && IsDigit(token[n])) ++n;
  if (n < minDigits || n > maxDigits) return false;
  out = 0;
  for (std::size_t i = 0; i < n; ++i) out = out * 10 + (token[i] - '0');
  if (rest) *rest = token.substr(n);
  return true;
}

bool ParseTime(std::string_view token, int& h, int& m, int& s) {
  std::string_view rest;
  if (!LeadingNumber(token, 1, 2, h, &rest) || rest.empty() || rest[0] != ':') return false;
  if (!LeadingNumber(rest.substr(1), 1, 2, m, &rest) || rest.empty() || rest[0] != ':') return false;
  return LeadingNumber(rest.substr(1), 1, 2, s);
}

std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

std::optional<std::int64_t> ParseCookieDate(std::string_view text) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  bool haveTime = false, haveDay = false, haveMonth = false, haveYear = false;
  int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsDateDelimiter(text[pos])) ++pos;
    std::size_t end = pos;
    while (end < text.size() && !IsDateDelimiter(text[end])) ++end;
    const std::string_view token = text.substr(pos, end - pos);
    pos = end;
    if (token.empty()) continue;
    if (!haveTime && ParseTime(token, hour, minute, second)) {
      haveTime = true;
    } else if (!haveDay && LeadingNumber(token, 1, 2, day)) {
      haveDay = true;
    } else if (!haveMonth && token.size() >= 3 &&
               std::find(std::begin(kMonths), std::end(kMonths), LowerAscii(token.substr(0, 3))) != std::end(kMonths)) {
      month = static_cast<int>(std::find(std::begin(kMonths), std::end(kMonths), LowerAscii(token.substr(0, 3))) -
                               std::begin(kMonths)) + 1;
      haveMonth = true;
    } else if (!haveYear && LeadingNumber(token, 2, 4, year)) {
      haveYear = true;
    }
  }
  if (!haveTime || !haveDay || !haveMonth || !haveYear) return std::nullopt;
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int monthDays = kDaysInMonth[month - 1] + (month == 2 && IsLeap(year) ? 1 : 0);
  if (day < 1 || day > monthDays || year < 1601 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::int64_t CookieStore::SystemClock() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

CookieStore::CookieStore(Clock clock) : clock_(std::move(clock)) {}

void CookieStore::Receive(std::string_view setCookie, const Url& url) {
  // Control characters would end up inside the next request's head.
  if (std::any_of(setCookie.begin(), setCookie.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t') || u == 0x7F;
      })) {
    return;
  }
  const auto semicolon = setCookie.find(';');
  const std::string_view pair = setCookie.substr(0, semicolon);
  const auto equals = pair.find('=');
  if (equals == std::string_view::npos) return;
  Cookie cookie;
  cookie.name = std::string(Trim(pair.substr(0, equals)));
  cookie.value = std::string(Trim(pair.substr(equals + 1)));
  if (cookie.name.empty()) return;

  const std::int64_t now = clock_();
  std::optional<std::int64_t> maxAge;
  std::optional<std::int64_t> expires;
  std::string domain;
  std::string path;
  std::string_view attributes = semicolon == std::string_view::npos ? "" : setCookie.substr(semicolon + 1);
  while (!attributes.empty()) {
    const auto next = attributes.find(';');
    const std::string_view attribute = attributes.substr(0, next);
    attributes = next == std::string_view::npos ? "" : attributes.substr(next + 1);
    const auto eq = attribute.find('=');
    const std::string_view key = Trim(attribute.substr(0, eq));
    const std::string_view value = eq == std::string_view::npos ? "" : Trim(attribute.substr(eq + 1));
    if (EqualsNoCase(key, "expires")) {
      if (const auto date = ParseCookieDate(value)) expires = date;
    } else if (EqualsNoCase(key, "max-age")) {
      std::string_view digits = value;
      const bool negative = !digits.empty() && digits.front() == '-';
      if (negative) digits.remove_prefix(1);
      if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) continue;
      std::int64_t seconds = 0;
      for (char c : digits) {
        seconds = seconds > (std::numeric_limits<std::int64_t>::max() - 9) / 10 ? std::numeric_limits<std::int64_t>::max()
                                                                               : seconds * 10 + (c - '0');
      }
      // Zero or negative expires the cookie at once; a huge value lasts as long as the store.
      if (negative || seconds == 0) {
        maxAge = std::numeric_limits<std::int64_t>::min();
      } else {
        maxAge = seconds > std::numeric_limits<std::int64_t>::max() - now ? std::numeric_limits<std::int64_t>::max()
                                                                           : now + seconds;
      }
    } else if (EqualsNoCase(key, "domain")) {
      if (value.empty()) continue;
      std::string_view d = value;
      if (d.front() == '.') d.remove_prefix(1);
      domain = LowerAscii(d);
    } else if (EqualsNoCase(key, "path")) {
      path = (value.empty() || value.front() != '/') ? std::string() : std::string(value);
    } else if (EqualsNoCase(key, "secure")) {
      cookie.secure = true;
    }
  }

  const std::string host = HostOf(url);
  if (domain.empty()) {
    cookie.domain = host;
    cookie.hostOnly = true;
  } else {
    if (!DomainMatches(host, domain)) return;
    cookie.domain = domain;
    cookie.hostOnly = false;
  }
  cookie.path = path.empty() ? DefaultPath(PathOf(url)) : path;
  cookie.expires = maxAge ? maxAge : expires;

  auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
    return c.name == cookie.name && c.domain == cookie.domain && c.path == cookie.path;
  });
  if (cookie.expires && *cookie.expires <= now) {
    if (same != cookies_.end()) cookies_.erase(same);
    return;
  }
  if (same != cookies_.end()) {
    cookie.order = same->order;
    *same = std::move(cookie);
  } else {
    cookie.order = nextOrder_++;
    cookies_.push_back(std::move(cookie));
  }
}

void CookieStore::DropExpired(std::int64_t now) {
  std::erase_if(cookies_, [now](const Cookie& c) { return c.expires && *c.expires <= now; });
}

std::string CookieStore::HeaderFor(const Url& url) {
  DropExpired(clock_());
  const std::string host = HostOf(url);
  const std::string path = PathOf(url);
  std::vector<const Cookie*> matching;
  for (const Cookie& cookie : cookies_) {
    const bool domainOk = cookie.hostOnly ? host == cookie.domain : DomainMatches(host, cookie.domain);
    if (domainOk && PathMatches(path, cookie.path) && (!cookie.secure || url.Secure())) matching.push_back(&cookie);
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() != b->path.size() ? a->path.size() > b->path.size() : a->order < b->order;
  });
  std::string header;
  for (const Cookie* cookie : matching) {
    if (!header.empty()) header += "; ";
    header += cookie->name + "=" + cookie->value;
  }
  return header;
}

}  // namespace korvex
