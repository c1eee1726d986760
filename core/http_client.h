#pragma once
// The address client: one HTTP/1.1 GET at a time over a Connector, through a TLS handler for
// https, with a per-object cookie store and one connection kept open for the next request.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/address_client.h"
#include "core/cookies.h"
#include "core/error.h"
#include "core/http_response.h"
#include "core/stream.h"
#include "core/text.h"
#include "core/tls.h"
#include "core/url.h"

namespace korvex {

// A final answer outside 200..299. The message is the status line exactly as received.
class HttpError : public KorError {
 public:
  HttpError(Text statusLine, int statusCode, Text body)
      : KorError(std::move(statusLine)), statusCode_(statusCode), body_(std::move(body)) {}
  int StatusCode() const noexcept { return statusCode_; }
  const Text& Body() const noexcept { return body_; }

 private:
  int statusCode_;
  Text body_;
};

// The bound of one whole request, from the connect to the last byte of the answer: a server that
// trickles its answer must not hold an update (and a service stop) for days.
inline constexpr std::chrono::milliseconds kRequestDeadline{60000};

class HttpClient : public AddressClient {
 public:
  // Makes the handler an https request uses when none is attached; the client keeps it.
  using TlsFactory = std::function<std::shared_ptr<TlsHandler>()>;

  // `connector` must outlive the client. An empty `implicitTls` takes MakeTlsHandler().
  HttpClient(Connector& connector, Text userAgent, TlsFactory implicitTls = {},
             CookieStore::Clock clock = CookieStore::SystemClock);
  ~HttpClient() override;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Sends one GET and returns the body as text. Throws KorError: kUnknownProtocol for an empty
  // URL or another scheme, HttpError for a final status outside 200..299, the Connector's and
  // TLS handler's failures unchanged, and the response reader's (connection closed before the
  // status line, answer too large, malformed answer). A request that has not ended
  // kRequestDeadline after it began fails with socket error 10060. A 101 answer returns empty
  // text.
  Text Get(const Text& url) override;
  // Replaces the handler (nullptr removes it) and closes the open connection.
  void AttachTls(std::shared_ptr<TlsHandler> handler) override;
  // Tests shorten the request's bound or take their own steady clock.
  void SetRequestDeadline(std::chrono::milliseconds limit,
                          std::function<Deadline()> now = std::chrono::steady_clock::now) {
    requestDeadline_ = limit;
    now_ = std::move(now);
  }
  bool HasTls() const override { return tls_ != nullptr; }
  const std::shared_ptr<TlsHandler>& Tls() const { return tls_; }

  // The last answer that was read completely (error answers included): status, status line,
  // headers and raw body; and the charset its body was decoded with (empty: none).
  const HttpResponse& LastResponse() const { return last_; }
  const std::string& LastCharset() const { return lastCharset_; }
  // True while a connection is kept open for the next request.
  bool Connected() const { return stream_ != nullptr; }

 private:
  std::string RequestHead(const Url& url);
  void Connect(const Url& url, Deadline deadline);
  HttpResponse ReadResponse(bool& reusable);

  Connector& connector_;
  Text userAgent_;
  TlsFactory implicitTls_;
  std::shared_ptr<TlsHandler> tls_;
  CookieStore cookies_;
  std::chrono::milliseconds requestDeadline_ = kRequestDeadline;
  std::function<Deadline()> now_ = std::chrono::steady_clock::now;

  std::unique_ptr<Stream> stream_;
  Text connectedHost_;
  std::uint16_t connectedPort_ = 0;
  bool connectedSecure_ = false;

  HttpResponse last_;
  std::string lastCharset_;
};

}  // namespace korvex
