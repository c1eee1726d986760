#pragma once
// The software update's HTTP client. Unlike the address client it writes the answer body as bytes
// into a target the caller supplies, follows redirects itself, keeps its own cookies and never
// fails on a status code; HTTP, TLS and the proxy are the operating system's.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/cookies.h"
#include "core/error.h"
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

// A body that never ends, or one that stops arriving, must not hold the window for ever nor fill
// the disk: each request has a stall limit, a size cap and a time limit.
inline constexpr char16_t kDownloadStalled[] =
    u"Der Download von \"%s\" wurde abgebrochen: %d Sekunden lang kamen keine Daten an";
inline constexpr char16_t kDownloadTooLarge[] =
    u"Der Download von \"%s\" wurde abgebrochen: die Datei ist größer als %d MiB";
inline constexpr char16_t kDownloadTooLong[] =
    u"Der Download von \"%s\" wurde abgebrochen: er hat länger als %d Sekunden gedauert";

struct DownloadLimits {
  // No byte for this long fails the request.
  std::chrono::milliseconds stall{kDownloadTimeoutMs};
  // More body bytes than this fail the request before they are written; the redirects' bodies
  // count too.
  std::uint64_t maxBytes = std::uint64_t{256} * 1024 * 1024;
  // The whole request, redirects included, from its start.
  std::chrono::milliseconds total{std::chrono::minutes(15)};
};

// A failure of one of the limits: what arrived is no whole file.
class DownloadLimitExceeded : public KorError {
 public:
  using KorError::KorError;
};

// The limits of one request as the transport reads: it asks how long it may wait for the next
// bytes and reports what arrived and when a wait passed without any.
class DownloadWatch {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  DownloadWatch(const DownloadLimits& limits, Text url, Clock clock);

  // The stall limit, or less when the time limit comes first; throws once that has passed.
  std::chrono::milliseconds NextWait() const;
  // Call before writing `bytes` more; throws when they would pass the size cap or arrived after
  // the time limit.
  void Received(std::uint64_t bytes);
  // A wait of NextWait() ended without a byte: the stall or the time limit, as the clock says.
  [[noreturn]] void TimedOut() const;

 private:
  [[noreturn]] void FailTooLong() const;
  DownloadLimits limits_;
  Text url_;
  Clock clock_;
  std::chrono::steady_clock::time_point start_;
  std::uint64_t received_ = 0;
};

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
  // Every read of the answer waits at most watch.NextWait() and reports to `watch`.
  virtual DownloadResponse Exchange(const Text& url, const std::string& cookie, ByteStream& target,
                                    DownloadWatch& watch) = 0;
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
                           CookieStore::Clock clock = CookieStore::SystemClock, DownloadLimits limits = {},
                           DownloadWatch::Clock steadyClock = std::chrono::steady_clock::now);
  // A failure of the limits throws DownloadLimitExceeded.
  DownloadResponse Get(const Text& url, ByteStream& target) override;

 private:
  std::unique_ptr<DownloadTransport> transport_;
  CookieStore cookies_;
  DownloadLimits limits_;
  DownloadWatch::Clock steadyClock_;
};

// WinHTTP with the current user's proxy settings (Windows only).
std::unique_ptr<DownloadTransport> MakeSystemDownloadTransport();
std::unique_ptr<DownloadClient> MakeSystemDownloadClient(const DownloadLimits& limits = {});

}  // namespace korvex
