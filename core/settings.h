#pragma once
// The settings both programs read from HKEY_LOCAL_MACHINE\Software\Korvex, and their in-memory copy.

#include <cstdint>
#include <functional>

#include "core/error.h"
#include "core/registry.h"
#include "core/text.h"
#include "core/timer.h"

namespace korvex {

// One per program, created empty and refreshed by ReadEinstellungen.
struct UpdateSettings {
  Text Benutzername;
  Text Passwort;  // decoded
  Text Hostname;
  std::int32_t UpdateIntervall = 0;  // milliseconds: the stored minutes x 60000
  Text Updateart;                    // "HTTPS" or "HTTP"
  Text Einstellungen;                // "Ja" once the setup dialog has saved
};

// The names of the values in the settings key.
inline constexpr TextView kValueBenutzername = u"Benutzername";
inline constexpr TextView kValuePasswort = u"Passwort";
inline constexpr TextView kValueHostname = u"Hostname";
inline constexpr TextView kValueUpdateIntervall = u"UpdateIntervall";
inline constexpr TextView kValueUpdateart = u"Updateart";
inline constexpr TextView kValueEinstellungen = u"Einstellungen";
// Optional: the address service's host[:port], when it is not the compiled-in one.
inline constexpr TextView kValueServeradresse = u"Serveradresse";

inline constexpr TextView kUpdateartHttps = u"HTTPS";
inline constexpr TextView kUpdateartHttp = u"HTTP";
inline constexpr TextView kEinstellungenGespeichert = u"Ja";

inline constexpr TextView kWriteFailedMessage = u"Fehler beim Setzen der Daten für '%s'";
inline constexpr TextView kNotAnIntegerMessage = u"'%s' ist kein gültiger Integerwert";
// The save refuses to store the password in a key whose access it could not restrict.
inline constexpr TextView kSecureFailedMessage =
    u"Fehler beim Schützen des Registrierungsschlüssels '%s'";

// Stored minutes above this give more milliseconds than a signed 32-bit interval holds; they are
// taken as this many minutes (2147460000 ms, almost 25 days). Negative minutes count as 0, which
// stops the timer.
inline constexpr std::int32_t kLargestIntervalMinutes = 35791;
inline constexpr std::int32_t kMillisecondsPerMinute = 60000;

// Where a program reports the failures of its host that a read meets but does not raise: the
// service writes them to its event log, the client shows them.
using HostFailureHandler = std::function<void(const KorError&)>;

// Refreshes `settings` from the key and sets the timer's interval. Never fails: a value that
// cannot be read ends the pass silently, and every later field (and the interval, when reading
// it or an earlier value failed) keeps what it had. A timer that cannot be armed for the new
// interval goes to `onHostFailure` (when given), and the pass goes on. The key gets its
// protected access rights first when it has others (OpenProtectedSettingsKey).
void ReadEinstellungen(Registry& registry, UpdateSettings& settings, Timer& timer,
                      const HostFailureHandler& onHostFailure = {});

// Index of the selected entry in the setup dialog's transport list.
inline constexpr int kTransportHttps = 0;
inline constexpr int kTransportHttp = 1;
inline constexpr int kTransportNone = -1;

// The setup dialog's fields, as typed.
struct SettingsInput {
  Text Benutzername;
  Text Passwort;  // plain; stored encoded
  Text Hostname;
  int Transport = kTransportNone;
  Text Intervall;  // minutes, as decimal text
};

// The save's write pass: Benutzername, Passwort, Hostname, Einstellungen = "Ja", Updateart (only
// with a transport selected), UpdateIntervall, in this order. An interval text that is not a
// strict decimal integer throws KorError before anything is written; a failed write throws and
// ends the pass there, and the values written before it stay stored. The KorError of a failed
// write or of the key's protection carries the Win32 status as OsCode().
void WriteEinstellungen(Registry& registry, const SettingsInput& input);

// The address service's host[:port]: the value "Serveradresse" when it holds text, otherwise the
// one built into the programs.
Text ReadServiceHost(Registry& registry);

}  // namespace korvex
