#include "core/socket_error.h"

namespace korvex {

namespace {

struct Reason {
  std::uint32_t code;
  const char16_t* text;
};

constexpr Reason kReasons[] = {
    {wsa::kHostNotFound, u"Host nicht gefunden."},
    {wsa::kConnectionRefused, u"Verbindung abgelehnt."},
    {wsa::kTimedOut, u"Zeitüberschreitung bei Verbindung."},
    {wsa::kConnectionReset, u"Die Verbindung wurde von Peer zurückgesetzt."},
    {wsa::kNetworkUnreachable, u"Netzwerk ist nicht erreichbar."},
    {wsa::kHostUnreachable, u"Keine Route zum Host."},
    {wsa::kAccessDenied, u"Zugriff verweigert."},
    {wsa::kAddressInUse, u"Adresse wird bereits verwendet."},
    {wsa::kAddressNotAvailable, u"Die angeforderte Adresse ist nicht verfügbar."},
    {wsa::kNetworkDown, u"Das Netzwerk ist ausgefallen."},
    {wsa::kNetworkReset, u"Die Netzwerkverbindung wurde zurückgesetzt."},
    {wsa::kConnectionAborted, u"Die Verbindung wurde abgebrochen."},
    {wsa::kNoBuffers, u"Kein Pufferspeicher verfügbar."},
    {wsa::kNotConnected, u"Der Socket ist nicht verbunden."},
    {wsa::kShutDown, u"Senden nach dem Schließen des Sockets nicht möglich."},
    {wsa::kHostDown, u"Der Host ist nicht in Betrieb."},
    {wsa::kTryAgain, u"Host nicht gefunden, später erneut versuchen."},
    {wsa::kNoRecovery, u"Nicht behebbarer Fehler bei der Namensauflösung."},
    {wsa::kNoData, u"Zum Namen ist keine Adresse eingetragen."},
};

}  // namespace

Text SocketErrorReason(std::uint32_t code) {
  for (const Reason& reason : kReasons) {
    if (reason.code == code) return reason.text;
  }
  return {};
}

Text SocketErrorMessage(std::uint32_t code) {
  return Format(kSocketErrorPattern, {ToText(code), SocketErrorReason(code)});
}

void ThrowSocketError(std::uint32_t code) { throw SocketError(code); }

}  // namespace korvex
