#pragma once
// The cookies one address client received, sent back to the URLs they match (RFC 6265 domain,
// path, Secure and expiry rules). Each client has its own store; nothing is shared or saved.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/url.h"

namespace korvex {

class CookieStore {
 public:
  // Seconds since 1970-01-01 UTC; injected so that tests control expiry.
  using Clock = std::function<std::int64_t()>;
  static std::int64_t SystemClock();

  explicit CookieStore(Clock clock = SystemClock);

  // Takes the value of one "Set-Cookie" header of an answer to `url`. A cookie the server may not
  // set (a Domain that does not cover the host), one with control characters, or one that is
  // already expired is dropped; an expired one also removes the stored cookie of the same name,
  // domain and path.
  void Receive(std::string_view setCookie, const Url& url);
  // The value of the "Cookie" header for a request to `url`, "name=value" pairs joined by "; ",
  // longer paths first; empty when no unexpired cookie matches.
  std::string HeaderFor(const Url& url);
  bool Empty() const { return cookies_.empty(); }

 private:
  struct Cookie {
    std::string name;
    std::string value;
    std::string domain;  // lower case, no leading dot
    std::string path;
    bool hostOnly = true;
    bool secure = false;
    std::optional<std::int64_t> expires;  // none: lives as long as the store
    std::uint64_t order = 0;               // creation order, for the header's tie-break
  };

  void DropExpired(std::int64_t now);

  Clock clock_;
  std::vector<Cookie> cookies_;
  std::uint64_t nextOrder_ = 0;
};

// The RFC 6265 cookie-date algorithm; seconds since 1970 UTC, nullopt when the text is no date.
std::optional<std::int64_t> ParseCookieDate(std::string_view text);

}  // namespace korvex
