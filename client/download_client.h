#pragma once
// The software update's HTTP client. Unlike the address client it writes the answer body as bytes
// into a target the caller supplies, follows redirects itself, keeps its own cookies and never
// fails on a status code; HTTP, TLS and the proxy are the operating system's.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/cookies.h"
#include "core/text.h"

namespace korvex {

inline constexpr char16_t kSendFailed[] = u"Fehler beim Senden der Daten: (%d) %s";
inline constexpr char16_t kReceiveFailed[] = u"Fehler beim Empfangen der Daten: (%d) %s";
inline constexpr char16_t kReadFailed[] = u"Fehler beim Lesen der Daten: (%d) %s";
inline constexpr char16_t kTooManyRedirects[] = u"Maximale Anzahl von Umleitungen (%d) überschritten";
// A redirect from an https URL to one that is not: the software update fetches programs.
inline constexpr char16_t kInsecureRedirect[] = u"Umleitung auf die ungesicherte Adresse \"%s\" abgelehnt";

inline constexpr int kMaxRedirects = 5;
// Each of resolving, connecting, sending and receiving.
inline constexpr int kDownloadTimeoutMs = 60000;

// Where a body goes: a file or memory, written at a position that moves on with every write.
// Every call throws KorError on failure.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  virtual void Write(std::string_view bytes) = 0;
  virtual std::uint64_t Position() const = 0;
  virtual void Seek(std::uint64_t position) = 0;
  virtual std::uint64_t Size() const = 0;
  // Cuts the stream to `size` bytes; the position is left where it is.
  virtual void Truncate(std::uint64_t size) = 0;
};

inline constexpr char16_t kMemoryStreamFull[] = u"Die Antwort ist größer als %d Bytes";

// A ByteStream in memory, optionally refusing to grow beyond a limit.
class MemoryStream : public ByteStream {
 public:
  explicit MemoryStream(std::uint64_t limit = UINT64_MAX) : limit_(limit) {}
  void Write(std::string_view bytes) override;
  std::uint64_t Position() const override { return position_; }
  void Seek(std::uint64_t position) override { position_ = position; }
  std::uint64_t Size() const override { return bytes_.size(); }
  void Truncate(std::uint64_t size) override;
  const std::string& Bytes() const { return bytes_; }

 private:
  std::uint64_t limit_;
  std::string bytes_;
  std::uint64_t position_ = 0;
};

struct DownloadResponse {
  int statusCode = 0;
  Text statusText;      // "Not Found"
  std::string headers;  // the head as received: status line, then header lines, each ending in CR LF

  // "HTTP/1.1 404 Not Found"
  Text StatusLine() const;
  // The values of every header of this name (case-insensitive), in order, trimmed.
  std::vector<std::string> Header(std::string_view name) const;
};

class DownloadClient {
 public:
  virtual ~DownloadClient() = default;
  // GETs `url` and writes the final answer's body into `target` from its current position; on
  // return, and on failure, the position is back where it was. Throws KorError for transport
  // failures, a rejected certificate and too many redirects, never for a status code.
  virtual DownloadResponse Get(const Text& url, ByteStream& target) = 0;
};

// One GET as the operating system's HTTP service sends it: no redirects followed, no cookies of
// its own. `url` goes out as it stands; `cookie` is the Cookie header's value, empty for none.
class DownloadTransport {
 public:
  virtual ~DownloadTransport() = default;
  virtual DownloadResponse Exchange(const Text& url, const std::string& cookie, ByteStream& target) = 0;
};

// The URL with its path percent-encoded from its UTF-8 bytes, segment by segment: bytes below 33
// and above 126, the double quote, the grave accent and #+<>?\^{|} become %XX; a "%" that two hex
// digits follow stays. Scheme, authority and query are left as they are.
Text EncodeUrlPath(TextView url);

// `location` of a redirect answer to `base`, made absolute.
Text ResolveLocation(TextView base, TextView location);

// Redirects (at most kMaxRedirects per request, each as a GET, the redirect's body dropped from
// the target) and cookies on top of a transport.
class TDownloadClient : public DownloadClient {
 public:
  explicit TDownloadClient(std::unique_ptr<DownloadTransport> transport,
                           CookieStore::Clock clock = CookieStore::SystemClock);
  DownloadResponse Get(const Text& url, ByteStream& target) override;

 private:
  std::unique_ptr<DownloadTransport> transport_;
  CookieStore cookies_;
};

// WinHTTP with the current user's proxy settings (Windows only).
std::unique_ptr<DownloadTransport> MakeSystemDownloadTransport();
std::unique_ptr<DownloadClient> MakeSystemDownloadClient();

}  // namespace korvex
