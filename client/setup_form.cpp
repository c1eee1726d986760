#include "client/setup_form.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "client/client.h"
#include "core/error.h"
#include "core/exchange.h"
#include "core/password.h"
#include "core/settings.h"

namespace korvex {
namespace {

constexpr TextView kLineTag = u"<br>";
constexpr TextView kLineBreak = u"\r\n";
// The first two lines of a host-list answer carry the status and a count, no host names.
constexpr std::size_t kHeaderLines = 2;
// Shorter answers hold no host name.
constexpr std::size_t kShortestHostList = 5;

// An optional sign and at least one decimal digit, nothing else. Values far beyond the int range
// are held at its ends: for the field's bounds only the side matters.
std::optional<long long> ParseIntervalText(TextView text) {
  bool negative = false;
  if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    if (value < 1'000'000'000'000LL) value = value * 10 + (c - u'0');
  }
  return negative ? -value : value;
}

}  // namespace

std::vector<Text> HostListEntries(TextView answer) {
  Text text;
  for (std::size_t at = 0;;) {
    const std::size_t tag = answer.find(kLineTag, at);
    text += answer.substr(at, tag == TextView::npos ? TextView::npos : tag - at);
    if (tag == TextView::npos) break;
    text += kLineBreak;
    at = tag + kLineTag.size();
  }
  std::vector<Text> entries = SplitLines(text);
  entries.erase(entries.begin(), entries.begin() + std::min(entries.size(), kHeaderLines));
  return entries;
}

Text ClampIntervalText(const Text& text) {
  const std::optional<long long> value = ParseIntervalText(text);
  if (!value) return text;
  if (*value < kIntervalMinimum) return ToText(kIntervalMinimum);
  if (*value > kIntervalMaximum) return ToText(kIntervalMaximum);
  return text;
}

bool IntervalAcceptsCharacter(char16_t c, char16_t decimalSeparator) {
  return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == decimalSeparator || c < 0x20;
}

TSetupForm::TSetupForm(Parts parts, TClient& client)
    : view_(parts.view),
      boxes_(parts.boxes),
      registry_(parts.registry),
      korHTTP_(std::move(parts.korHTTP)),
      client_(client) {}

void TSetupForm::ShowModal() {
  if (view_.Visible()) throw KorError(kVisibleToModalMessage);
  FormShow();
  view_.SetTaskbarButton(!client_.MainWindowVisible());
  view_.RunModal();
}

void TSetupForm::ShowNonModal() {
  if (view_.Visible()) {
    view_.BringToTop();
    return;
  }
  FormShow();
  view_.SetTaskbarButton(!client_.MainWindowVisible());
  view_.Show();
}

void TSetupForm::FormShow() {
  ReadEinstellungen();
  if (client_.Settings().Einstellungen == kEinstellungenGespeichert) {
    view_.ShowLowerHalf();
    view_.SetLoginEnabled(false);
  }
}

void TSetupForm::ReadEinstellungen() {
  // Like the main window's read, a value that cannot be read ends the pass silently, and the
  // fields of the later values keep their text.
  std::unique_ptr<RegistryKey> key = registry_.OpenSettingsKey();
  Text text;
  if (!ReadString(key.get(), kValueBenutzername, text)) return;
  view_.SetUserName(text);
  if (!ReadString(key.get(), kValuePasswort, text)) return;
  view_.SetPassword(Entschluesseln(text));
  if (!ReadString(key.get(), kValueHostname, text)) return;
  view_.SetHostText(text);
  std::int32_t minutes = 0;
  if (!ReadInteger(key.get(), kValueUpdateIntervall, minutes)) return;
  view_.SetIntervalText(ToText(minutes));
  if (!ReadString(key.get(), kValueUpdateart, text)) return;
  view_.SetTransportText(text);
}

void TSetupForm::LoginClick() {
  try {
    // Always over https, whatever transport is stored.
    const Text base = u"https://" + ReadServiceHost(registry_);
    const Text url = HostListURL(base, view_.UserName(), view_.Password());
    const Text answer = korHTTP_->Get(url);
    if (answer.size() < kShortestHostList) {
      boxes_.Error(kErrorCaption, kNoHostsMessage);
      return;
    }
    view_.SetHostEntries(HostListEntries(answer));
    view_.ShowLowerHalf();
    view_.SetCredentialsEnabled(false);
  } catch (const std::exception&) {
    // The dialog changes only after the answer, so it stays as it was and the user may retry.
    boxes_.Error(kErrorCaption, kHostListFailedMessage);
  }
}

void TSetupForm::SpeichernClick() {
  WriteEinstellungen(registry_, SettingsInput{view_.UserName(), view_.Password(), view_.HostText(),
                                              view_.TransportSelection(), view_.IntervalText()});
  client_.Settings().Einstellungen = Text(kEinstellungenGespeichert);
  client_.Show();
  client_.ReadEinstellungen();
  client_.UpdateIP();
  client_.MinimierungsTimer().SetEnabled(true);
  Close();
}

void TSetupForm::IntervallExit() {
  const Text text = view_.IntervalText();
  const Text clamped = ClampIntervalText(text);
  if (clamped != text) view_.SetIntervalText(clamped);
}

void TSetupForm::Close() {
  view_.EndShowing();
  FormClose();
}

void TSetupForm::FormClose() {
  // Without saved settings the dialog is the gate of the program: closing it ends the program.
  if (client_.Settings().Einstellungen != kEinstellungenGespeichert) client_.Beenden1Click();
}

}  // namespace korvex
