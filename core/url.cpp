#include "core/url.h"

#include "core/error.h"

namespace korvex {
namespace {

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

Text LowerAscii(TextView text) {
  Text out(text);
  for (char16_t& c : out) c = Lower(c);
  return out;
}

}  // namespace

Url ParseUrl(TextView url) {
  if (const auto hash = url.find(u'#'); hash != TextView::npos) url = url.substr(0, hash);
  const auto colon = url.find(u"://");
  if (url.empty() || colon == TextView::npos) throw KorError(kUnknownProtocol);

  Url out;
  out.scheme = LowerAscii(url.substr(0, colon));
  if (out.scheme == u"http") {
    out.port = 80;
  } else if (out.scheme == u"https") {
    out.port = 443;
  } else {
    throw KorError(kUnknownProtocol);
  }

  TextView rest = url.substr(colon + 3);
  const auto authorityEnd = rest.find_first_of(u"/?");
  TextView authority = rest.substr(0, authorityEnd);
  if (authorityEnd == TextView::npos) {
    out.target = u"/";
  } else if (rest[authorityEnd] == u'?') {
    out.target = u"/" + Text(rest.substr(authorityEnd));
  } else {
    out.target = Text(rest.substr(authorityEnd));
  }

  // User info is dropped: the address client never sends credentials in a header.
  if (const auto at = authority.rfind(u'@'); at != TextView::npos) authority = authority.substr(at + 1);
  TextView host = authority;
  if (const auto portColon = authority.rfind(u':'); portColon != TextView::npos) {
    host = authority.substr(0, portColon);
    const TextView digits = authority.substr(portColon + 1);
    if (!digits.empty()) {
      std::uint32_t port = 0;
      for (char16_t c : digits) {
        if (c < u'0' || c > u'9' || port > 65535) throw KorError(kInvalidUrl);
        port = port * 10 + (c - u'0');
      }
      if (port == 0 || port > 65535) throw KorError(kInvalidUrl);
      out.defaultPort = port == out.port;
      out.port = static_cast<std::uint16_t>(port);
    }
  }
  if (host.empty()) throw KorError(kInvalidUrl);
  out.host = Text(host);
  return out;
}

}  // namespace korvex
