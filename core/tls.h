#pragma once
// TLS for the address client: SChannel on Windows, OpenSSL 3 on Linux. The library is loaded at
// the first handshake, under a process-wide lock, and a failed load is tried again next time.

#include <memory>
#include <string>

#include "core/stream.h"

namespace korvex {

inline constexpr char16_t kTlsLibraryMissing[] = u"SSL.-Bibliothek konnte nicht geladen werden.";
inline constexpr char16_t kCertificateRejected[] = u"Serverzertifikat ungültig oder nicht vorhanden";
// Followed by the TLS library's own error text, or by one of ours below.
inline constexpr char16_t kTlsHandshakeFailed[] = u"Fehler beim Verbinden mit SSL.\r\n";
inline constexpr char16_t kTlsClosedDuringHandshake[] =
    u"Die Verbindung wurde während des Verbindungsaufbaus geschlossen.";
inline constexpr char16_t kTlsConnectionClosed[] = u"Die Verbindung wurde unerwartet geschlossen.";
inline constexpr char16_t kTlsObsoleteProtocol[] = u"Nicht unterstütztes Protokoll (TLS 1.1 oder älter)";
// When the library gives no text of its own: the step that failed follows in parentheses.
inline constexpr char16_t kTlsSetupFailed[] = u"TLS-Verbindung konnte nicht eingerichtet werden";
inline constexpr char16_t kTlsHandshakeAborted[] = u"Verbindungsaufbau fehlgeschlagen";
inline constexpr char16_t kTlsTransferFailed[] = u"Fehler bei der verschlüsselten Übertragung";

class TlsHandler {
 public:
  virtual ~TlsHandler() = default;
  // Runs the client handshake over `socket` (TLS 1.2 at least, 1.3 where available, SNI =
  // serverName), verifies the chain against the system's trust store and the server name, and
  // returns the encrypted stream. Throws KorError with the German message on every failure.
  virtual std::unique_ptr<Stream> Handshake(std::unique_ptr<Socket> socket,
                                            const std::string& serverName) = 0;
};

struct TlsOptions {
  // Linux: the file name of libssl to load; empty takes the system's OpenSSL 3. Tests name a
  // library that does not exist to see the load fail.
  std::string libraryName;
  // Linux: a PEM file of a CA trusted in addition to the system store (tests only).
  std::string extraCaFile;
};

std::unique_ptr<TlsHandler> MakeTlsHandler(const TlsOptions& options = {});

}  // namespace korvex
