#include "core/exchange.h"

#include <exception>
#include <utility>

#include "core/error.h"

namespace korvex {
namespace {

constexpr char16_t kHttp[] = u"HTTP";
constexpr char16_t kHttps[] = u"HTTPS";
constexpr char16_t kLookupPath[] = u"/ip.php";

bool IsUnreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

bool IsWordCharacter(char16_t c) {
  if (c < 0x80) {
    // "_" and "-" join the parts of error codes such as NOT_OK or ERR-OK.
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' ||
           c == u'-';
  }
  if (c <= 0xBF || c == 0xD7 || c == 0xF7) return false;
  if (c >= 0x2000 && c <= 0x206F) return false;
  if (c == 0x3000 || c == 0xFEFF) return false;
  return true;
}

// The scheme and service host, or nothing for an Updateart that names no transport. The
// comparison is case-sensitive on purpose: stored values are written by the setup dialog.
bool BaseFor(const Text& updateart, const Text& serviceHost, Text& base) {
  if (updateart == kHttp) {
    base = u"http://" + serviceHost;
    return true;
  }
  if (updateart == kHttps) {
    base = u"https://" + serviceHost;
    return true;
  }
  return false;
}

}  // namespace

Text PercentEncode(TextView value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Text out;
  for (const char byte : ToUtf8(value)) {
    if (IsUnreserved(byte)) {
      out += static_cast<char16_t>(byte);
    } else {
      const auto b = static_cast<unsigned char>(byte);
      out += u'%';
      out += static_cast<char16_t>(kHex[b >> 4]);
      out += static_cast<char16_t>(kHex[b & 0xF]);
    }
  }
  return out;
}

Text UpdateURL(TextView base, TextView user, TextView password, TextView host) {
  Text url(base);
  url += u"/update.php?user=";
  url += PercentEncode(user);
  url += u"&password=";
  url += PercentEncode(password);
  url += u"&host=";
  url += PercentEncode(host);
  return url;
}

Text HostListURL(TextView base, TextView user, TextView password) {
  Text url(base);
  url += u"/userhosts.php?user=";
  url += PercentEncode(user);
  url += u"&password=";
  url += PercentEncode(password);
  return url;
}

bool IsOkAnswer(TextView answer) {
  const TextView ok = kUpdateOk;
  for (std::size_t at = answer.find(ok); at != TextView::npos; at = answer.find(ok, at + 1)) {
    const bool freeBefore = at == 0 || !IsWordCharacter(answer[at - 1]);
    const std::size_t end = at + ok.size();
    const bool freeAfter = end == answer.size() || !IsWordCharacter(answer[end]);
    if (freeBefore && freeAfter) return true;
  }
  return false;
}

struct AddressExchange::State {
  AddressClient& configured;
  Factories factories;
  Text serviceHost;
  bool attachTlsForUpdate;
  // The client the latest lookup created; released when the next lookup replaces it.
  std::unique_ptr<AddressClient> lookupClient;
  AddressClient* current;
  Text currentIp;
  Text updateAnswer;
  std::string updateRequestUrl;
};

AddressExchange::AddressExchange(AddressClient& configured, Factories factories, Text serviceHost,
                                 bool attachTlsForUpdate)
    : state_(new State{configured, std::move(factories), std::move(serviceHost),
                       attachTlsForUpdate, nullptr, &configured, {}, {}, {}}) {}

AddressExchange::~AddressExchange() = default;

void AddressExchange::GetIP(const UpdateSettings& settings,
                            const std::function<void(const Text&)>& onAddress) {
  State& s = *state_;
  try {
    // The new client takes the slot before anything is sent, so that a failed lookup still
    // leaves it there for the next update.
    s.lookupClient = s.factories.lookupClient();
    s.current = s.lookupClient.get();
    if (settings.Updateart == kHttps) s.current->AttachTls(s.factories.tlsHandler());
    s.currentIp.clear();
    Text base;
    if (!BaseFor(settings.Updateart, s.serviceHost, base)) return;  // no request, no address
    s.currentIp = s.current->Get(base + kLookupPath);
    if (onAddress) onAddress(s.currentIp);
  } catch (const std::exception&) {
    // A lookup tells nobody about its failure; the caller sees an empty address.
  }
}

void AddressExchange::UpdateIP(const UpdateSettings& settings, UpdateReport& report,
                               const std::function<void(const Text&)>& onAddress) {
  State& s = *state_;
  Text base;
  if (BaseFor(settings.Updateart, s.serviceHost, base)) {
    const Text url = UpdateURL(base, settings.Benutzername, settings.Passwort, settings.Hostname);
    if (settings.Updateart == kHttps && s.attachTlsForUpdate) {
      s.current->AttachTls(s.factories.tlsHandler());
    }
    s.updateRequestUrl = ToAnsi(url);
  }
  // Without a transport the previous URL goes out again; with none yet, the empty URL makes the
  // address client fail with its "unknown protocol" message.
  Text answer = s.current->Get(FromAnsi(s.updateRequestUrl));
  s.updateAnswer = IsOkAnswer(answer) ? Text(kUpdateOk) : std::move(answer);
  GetIP(settings, onAddress);
  report.Report(s.updateAnswer == kUpdateOk ? kUpdateSucceeded : kUpdateFailed, s.currentIp);
}

void AddressExchange::SetServiceHost(Text serviceHost) { state_->serviceHost = std::move(serviceHost); }

AddressClient& AddressExchange::Current() const { return *state_->current; }
const Text& AddressExchange::CurrentIP() const { return state_->currentIp; }
const Text& AddressExchange::UpdateAnswer() const { return state_->updateAnswer; }
const std::string& AddressExchange::UpdateRequestURL() const { return state_->updateRequestUrl; }

}  // namespace korvex
