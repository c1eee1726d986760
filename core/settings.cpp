#include "core/settings.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "core/error.h"
#include "core/password.h"

namespace korvex {
namespace {

// Minutes from the registry as timer milliseconds that fit a signed 32-bit interval.
std::int32_t IntervalMilliseconds(std::int32_t minutes) {
  return std::clamp(minutes, 0, kLargestIntervalMinutes) * kMillisecondsPerMinute;
}

// Strict decimal: an optional sign and at least one digit, nothing else, within 32 bits.
std::optional<std::int32_t> ParseInteger(TextView text) {
  bool negative = false;
  if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// Without a key every write fails, with no status of its own (the open reported none).
void ThrowIfFailed(RegistryKey* key, std::uint32_t status, TextView name) {
  if (key == nullptr) throw KorError(Format(kWriteFailedMessage, {name}));
  if (status != kRegistryOk) throw KorError(Format(kWriteFailedMessage, {name}), status);
}

void WriteString(RegistryKey* key, TextView name, TextView text) {
  ThrowIfFailed(key, key ? key->WriteString(name, text) : kRegistryOk, name);
}

}  // namespace

void ReadEinstellungen(Registry& registry, UpdateSettings& settings, Timer& timer,
                      const HostFailureHandler& onHostFailure) {
  std::unique_ptr<RegistryKey> key = OpenProtectedSettingsKey(registry);
  if (!ReadString(key.get(), kValueBenutzername, settings.Benutzername)) return;

  Text stored;
  if (!ReadString(key.get(), kValuePasswort, stored)) return;
  settings.Passwort = Entschluesseln(stored);

  if (!ReadString(key.get(), kValueHostname, settings.Hostname)) return;

  std::int32_t minutes = 0;
  if (!ReadInteger(key.get(), kValueUpdateIntervall, minutes)) return;
  settings.UpdateIntervall = IntervalMilliseconds(minutes);
  try {
    timer.SetInterval(static_cast<std::uint32_t>(settings.UpdateIntervall));
  } catch (const KorError& failure) {
    // A read never fails; a timer the platform cannot arm is the host's failure to report.
    if (onHostFailure) onHostFailure(failure);
  }

  if (!ReadString(key.get(), kValueUpdateart, settings.Updateart)) return;
  ReadString(key.get(), kValueEinstellungen, settings.Einstellungen);
}

void WriteEinstellungen(Registry& registry, const SettingsInput& input) {
  // Converted before anything is written: a bad interval must not leave "Ja" stored beside a
  // stale or missing interval.
  const std::optional<std::int32_t> minutes = ParseInteger(input.Intervall);
  if (!minutes) throw KorError(Format(kNotAnIntegerMessage, {input.Intervall}));

  std::unique_ptr<RegistryKey> key = registry.OpenSettingsKey();
  // Without a key the first write below fails and reports it.
  if (key) {
    if (const std::uint32_t status = key->Secure(); status != kRegistryOk) {
      throw KorError(Format(kSecureFailedMessage, {kSettingsKeyPath}), status);
    }
  }

  WriteString(key.get(), kValueBenutzername, input.Benutzername);
  WriteString(key.get(), kValuePasswort, Verschluesseln(input.Passwort));
  WriteString(key.get(), kValueHostname, input.Hostname);
  WriteString(key.get(), kValueEinstellungen, kEinstellungenGespeichert);
  if (input.Transport == kTransportHttps) WriteString(key.get(), kValueUpdateart, kUpdateartHttps);
  if (input.Transport == kTransportHttp) WriteString(key.get(), kValueUpdateart, kUpdateartHttp);

  ThrowIfFailed(key.get(), key ? key->WriteDword(kValueUpdateIntervall, static_cast<std::uint32_t>(*minutes)) : kRegistryOk,
                kValueUpdateIntervall);
}

Text ReadServiceHost(Registry& registry) {
  std::unique_ptr<RegistryKey> key = OpenProtectedSettingsKey(registry);
  Text host;
  if (ReadString(key.get(), kValueServeradresse, host) && !host.empty()) return host;
  return FromAscii(KORVEX_SERVICE_HOST);
}

}  // namespace korvex
