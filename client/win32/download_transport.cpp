// One GET through WinHTTP, with the current user's proxy settings. Redirects and cookies are
// switched off here: the download client above does both itself.
#include "core/win32/windows_api.h"

#include <winhttp.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "client/download_client.h"
#include "core/error.h"
#include "core/stream.h"
#include "core/tls.h"

namespace korvex {
namespace {

using win32::FromW;
using win32::W;

// WinHTTP sends no User-Agent unless given one; this is the library's name as its product token.
constexpr wchar_t kUserAgent[] = L"WinHTTP";

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::WinHttpCloseHandle(h); }
};
using ScopedInternet = win32::ScopedHandle<InternetTraits>;

// Frees the strings that WinHTTP hands out.
struct GlobalText {
  wchar_t* text = nullptr;
  GlobalText() = default;
  GlobalText(const GlobalText&) = delete;
  GlobalText& operator=(const GlobalText&) = delete;
  ~GlobalText() {
    if (text) ::GlobalFree(text);
  }
};

Text ErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text = length ? FromW(buffer, length) : Text();
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  return text;
}

[[noreturn]] void Fail(const char16_t* pattern, DWORD code) {
  throw KorError(Format(pattern, {ToText(code), ErrorText(code)}), code);
}

// The errors by which WinHTTP says that it did not accept the server's certificate.
bool IsCertificateError(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return true;
    default:
      return false;
  }
}

// Wine's WinHTTP reports an untrusted certificate as a channel error (12157), which a failed
// handshake for other reasons gives too. Then the address client's own TLS check, chain and name
// against the system's trust store, tells the two apart. Only possible on a direct connection.
bool CertificateRejected(const Text& host, INTERNET_PORT port) {
  try {
    std::unique_ptr<Socket> socket = MakeSystemConnector(10000)->Connect(ToUtf8(host), port);
    MakeTlsHandler()->Handshake(std::move(socket), ToUtf8(host));
    return false;
  } catch (const KorError& error) {
    return error.Message() == kCertificateRejected;
  }
}

struct ProxyChoice {
  bool named = false;  // else a direct connection
  Text proxy;
  Text bypass;
};

Text TakeGlobal(wchar_t* text) {
  GlobalText owned;
  owned.text = text;
  return FromW(text);
}

// The proxy for this URL from the current user's settings: an automatic configuration (detected
// or from a script's URL) first, then a fixed proxy, else a direct connection.
ProxyChoice ChooseProxy(const Text& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&user)) return {};
  const Text autoConfigUrl = TakeGlobal(user.lpszAutoConfigUrl);
  const Text proxy = TakeGlobal(user.lpszProxy);
  const Text bypass = TakeGlobal(user.lpszProxyBypass);

  if (user.fAutoDetect || !autoConfigUrl.empty()) {
    const ScopedInternet session(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                               WINHTTP_NO_PROXY_BYPASS, 0));
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (user.fAutoDetect) {
      options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!autoConfigUrl.empty()) {
      options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = W(autoConfigUrl);
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO found{};
    if (session && ::WinHttpGetProxyForUrl(session.Get(), W(url), &options, &found)) {
      ProxyChoice choice;
      choice.proxy = TakeGlobal(found.lpszProxy);
      choice.bypass = TakeGlobal(found.lpszProxyBypass);
      choice.named = found.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !choice.proxy.empty();
      return choice;
    }
  }
  if (!proxy.empty()) return {true, proxy, bypass};
  return {};
}

Text QueryText(HINTERNET request, DWORD what) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1);
  if (!::WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  return FromW(buffer.data(), size / sizeof(wchar_t));
}

// WinHTTP widens each received header byte to one character.
std::string Narrow(const Text& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text) out += c < 256 ? static_cast<char>(c) : '?';
  return out;
}

class WinHttpTransport final : public DownloadTransport {
 public:
  DownloadResponse Exchange(const Text& url, const std::string& cookie, ByteStream& target,
                            DownloadWatch& watch) override {
    // The proxy belongs to the session: WinHTTP under Wine ignores one set on a request.
    const ProxyChoice proxy = ChooseProxy(url);
    const ScopedInternet session(
        proxy.named ? ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY, W(proxy.proxy),
                                    proxy.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : W(proxy.bypass), 0)
                    : ::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) Fail(kSendFailed, ::GetLastError());

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(W(url), static_cast<DWORD>(url.size()), 0, &parts)) Fail(kSendFailed, ::GetLastError());
    const Text host = FromW(parts.lpszHostName, parts.dwHostNameLength);
    Text object = FromW(parts.lpszUrlPath, parts.dwUrlPathLength) + FromW(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = u"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    ScopedInternet connection(::WinHttpConnect(session.Get(), W(host), parts.nPort, 0));
    if (!connection) Fail(kSendFailed, ::GetLastError());
    // The path is percent-encoded already; WinHTTP must send it as it stands.
    ScopedInternet request(::WinHttpOpenRequest(
        connection.Get(), L"GET", W(object), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        (secure ? WINHTTP_FLAG_SECURE : 0) | WINHTTP_FLAG_ESCAPE_DISABLE | WINHTTP_FLAG_ESCAPE_DISABLE_QUERY));
    if (!request) Fail(kSendFailed, ::GetLastError());
    ::WinHttpSetTimeouts(request.Get(), kDownloadTimeoutMs, kDownloadTimeoutMs, kDownloadTimeoutMs,
                         kDownloadTimeoutMs);
    DWORD disable = WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS;
    ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);

    if (!cookie.empty()) {
      const Text header = u"Cookie: " + BytesAsText(cookie);
      ::WinHttpAddRequestHeaders(request.Get(), W(header), static_cast<DWORD>(header.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      const DWORD error = ::GetLastError();
      FailSecure(error, secure && !proxy.named, secure, host, parts.nPort, kSendFailed);
    }
    ArmReceive(request.Get(), watch);
    if (!::WinHttpReceiveResponse(request.Get(), nullptr)) {
      const DWORD error = ::GetLastError();
      FailSecure(error, secure && !proxy.named, secure, host, parts.nPort, kReceiveFailed);
    }

    DownloadResponse response;
    DWORD status = 0;
    DWORD size = sizeof status;
    ::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    response.statusCode = static_cast<int>(status);
    response.statusText = QueryText(request.Get(), WINHTTP_QUERY_STATUS_TEXT);
    response.headers = Narrow(QueryText(request.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF));

    std::vector<char> buffer(64 * 1024);
    while (true) {
      DWORD available = 0;
      ArmReceive(request.Get(), watch);
      if (!::WinHttpQueryDataAvailable(request.Get(), &available)) FailRead(::GetLastError(), watch);
      if (available == 0) break;
      DWORD read = 0;
      const DWORD wanted = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
      ArmReceive(request.Get(), watch);
      if (!::WinHttpReadData(request.Get(), buffer.data(), wanted, &read)) FailRead(::GetLastError(), watch);
      if (read == 0) break;
      watch.Received(read);
      target.Write(std::string_view(buffer.data(), read));
    }
    return response;
  }

 private:
  // The per-call receive time-out of WinHTTP is the stall limit, cut to what is left of the time
  // limit; a body that trickles in still ends at the time limit.
  static void ArmReceive(HINTERNET request, const DownloadWatch& watch) {
    const auto wait = static_cast<int>(std::max<long long>(watch.NextWait().count(), 1));
    ::WinHttpSetTimeouts(request, kDownloadTimeoutMs, kDownloadTimeoutMs, kDownloadTimeoutMs, wait);
  }

  [[noreturn]] static void FailRead(DWORD error, const DownloadWatch& watch) {
    // Wine's WinHTTP passes the socket's own time-out error on.
    if (error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT) watch.TimedOut();
    Fail(kReadFailed, error);
  }

  static Text BytesAsText(const std::string& bytes) {
    Text out;
    for (char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
  }

  // `canProbe`: a direct connection, on which our own handshake meets the same server.
  [[noreturn]] static void FailSecure(DWORD error, bool canProbe, bool secure, const Text& host, INTERNET_PORT port,
                                      const char16_t* pattern) {
    if (secure && (IsCertificateError(error) ||
                   (error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR && canProbe && CertificateRejected(host, port)))) {
      throw KorError(kCertificateRejected, error);
    }
    Fail(pattern, error);
  }
};

}  // namespace

std::unique_ptr<DownloadTransport> MakeSystemDownloadTransport() { return std::make_unique<WinHttpTransport>(); }

std::unique_ptr<DownloadClient> MakeSystemDownloadClient(const DownloadLimits& limits) {
  return std::make_unique<TDownloadClient>(MakeSystemDownloadTransport(), CookieStore::SystemClock, limits);
}

}  // namespace korvex
