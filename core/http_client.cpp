#include "core/http_client.h"

#include <array>
#include <initializer_list>
#include <optional>
#include <utility>

#include "core/charset.h"

namespace korvex {
namespace {

constexpr char16_t kCrLf[] = u"\r\n";
constexpr std::size_t kReadChunk = 16 * 1024;

// The request head goes out one byte per character; nothing above 127 survives.
std::string WireBytes(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace

HttpClient::HttpClient(Connector& connector, Text userAgent, TlsFactory implicitTls, CookieStore::Clock clock)
    : connector_(connector),
      userAgent_(std::move(userAgent)),
      implicitTls_(std::move(implicitTls)),
      cookies_(std::move(clock)) {
  if (!implicitTls_) implicitTls_ = [] { return std::shared_ptr<TlsHandler>(MakeTlsHandler()); };
}

HttpClient::~HttpClient() = default;

void HttpClient::AttachTls(std::shared_ptr<TlsHandler> handler) {
  tls_ = std::move(handler);
  stream_.reset();
}

std::string HttpClient::RequestHead(const Url& url) {
  // Appended piece by piece: gcc 12 at -O3 warns falsely (-Wrestrict) on chained operator+.
  Text head;
  const auto line = [&head](std::initializer_list<TextView> parts) {
    for (TextView part : parts) head.append(part);
    head.append(kCrLf);
  };
  line({u"GET ", url.target, u" HTTP/1.1"});
  Text port;
  if (!url.defaultPort) port.append(u":").append(ToText(url.port));
  line({u"Host: ", url.host, port});
  line({u"Accept: ", kAcceptText});
  line({u"User-Agent: ", userAgent_});
  if (const std::string cookie = cookies_.HeaderFor(url); !cookie.empty()) {
    line({u"Cookie: ", BytesAsCharacters(cookie)});
  }
  line({});
  return WireBytes(head);
}

void HttpClient::Connect(const Url& url, Deadline deadline) {
  stream_.reset();
  const std::string host = ToUtf8(url.host);
  std::unique_ptr<Socket> socket = connector_.Connect(host, url.port);
  socket->SetDeadline(deadline);  // the handshake counts too
  if (url.Secure()) {
    if (!tls_) tls_ = implicitTls_();
    stream_ = tls_->Handshake(std::move(socket), host);
  } else {
    // An attached handler stays out of the way of plain http.
    stream_ = std::move(socket);
  }
  connectedHost_ = url.host;
  connectedPort_ = url.port;
  connectedSecure_ = url.Secure();
}

HttpResponse HttpClient::ReadResponse(bool& reusable) {
  ResponseReader reader;
  std::array<char, kReadChunk> buffer;
  reusable = true;
  while (!reader.Done()) {
    const std::size_t received = stream_->Read(buffer.data(), buffer.size());
    if (received == 0) {
      reusable = false;
      reader.FeedClose();
      break;
    }
    // Bytes after the end of the answer would be taken for the next one; such a connection is
    // not used again.
    if (reader.Feed(std::string_view(buffer.data(), received)) < received) reusable = false;
  }
  reusable = reusable && reader.Response().keepAlive;
  return std::move(reader.Response());
}

Text HttpClient::Get(const Text& url) {
  const Url parsed = ParseUrl(url);
  const std::string head = RequestHead(parsed);

  const bool reuse = stream_ && connectedHost_ == parsed.host && connectedPort_ == parsed.port &&
                     connectedSecure_ == parsed.Secure() && !stream_->Stale();
  HttpResponse response;
  bool reusable = false;
  const Deadline deadline = now_() + requestDeadline_;
  try {
    if (reuse) {
      stream_->SetDeadline(deadline);
    } else {
      Connect(parsed, deadline);
    }
    stream_->Write(head);
    response = ReadResponse(reusable);
  } catch (...) {
    // After a failure on the wire the connection's state is unknown.
    stream_.reset();
    throw;
  }
  if (!reusable) stream_.reset();

  for (const std::string& setCookie : response.Values("Set-Cookie")) cookies_.Receive(setCookie, parsed);

  const std::string* contentType = response.Header("Content-Type");
  lastCharset_ = ChooseCharset(contentType ? *contentType : std::string(), response.body);
  std::optional<Text> decoded = lastCharset_.empty() ? std::nullopt : DecodeCharset(response.body, lastCharset_);
  Text body = decoded ? *std::move(decoded) : BytesAsCharacters(response.body);
  last_ = std::move(response);

  if (last_.status == 101) return Text();
  if (last_.status < 200 || last_.status > 299) {
    throw HttpError(BytesAsCharacters(last_.statusLine), last_.status, std::move(body));
  }
  return body;
}

}  // namespace korvex
