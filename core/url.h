#pragma once
// The parts of an address-client URL. Nothing is decoded or encoded: the path and query go on
// the wire exactly as they stand.

#include <cstdint>

#include "core/text.h"

namespace korvex {

inline constexpr char16_t kUnknownProtocol[] = u"Unbekanntes Protokoll";
// Without the URL itself: an update URL carries the password.
inline constexpr char16_t kInvalidUrl[] = u"Ungültige URL.";

struct Url {
  Text scheme;       // "http" or "https", lower case
  Text host;         // as written, without user info and port
  std::uint16_t port = 0;
  bool defaultPort = true;  // the URL named no port, or the scheme's own
  Text target;       // path and query, "/" when the URL has no path; no fragment
  bool Secure() const { return scheme == u"https"; }
};

// Throws KorError(kUnknownProtocol) for an empty URL or a scheme other than http and https, and
// KorError(kInvalidUrl) for a missing host or a bad port.
Url ParseUrl(TextView url);

}  // namespace korvex
