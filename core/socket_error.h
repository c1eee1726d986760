#pragma once
// Socket failures as the user sees them. Numbers are Winsock's on every platform, so that a
// message reads the same whichever build produced it.

#include <cstdint>

#include "core/error.h"
#include "core/text.h"

namespace korvex {

// %d is the socket error number, %s its reason text (empty for a number without one).
inline constexpr char16_t kSocketErrorPattern[] = u"Socket-Fehler # %d%s\r\n";

namespace wsa {
inline constexpr std::uint32_t kAccessDenied = 10013;        // WSAEACCES
inline constexpr std::uint32_t kAddressInUse = 10048;        // WSAEADDRINUSE
inline constexpr std::uint32_t kAddressNotAvailable = 10049; // WSAEADDRNOTAVAIL
inline constexpr std::uint32_t kNetworkDown = 10050;         // WSAENETDOWN
inline constexpr std::uint32_t kNetworkUnreachable = 10051;  // WSAENETUNREACH
inline constexpr std::uint32_t kNetworkReset = 10052;        // WSAENETRESET
inline constexpr std::uint32_t kConnectionAborted = 10053;   // WSAECONNABORTED
inline constexpr std::uint32_t kConnectionReset = 10054;     // WSAECONNRESET
inline constexpr std::uint32_t kNoBuffers = 10055;           // WSAENOBUFS
inline constexpr std::uint32_t kNotConnected = 10057;        // WSAENOTCONN
inline constexpr std::uint32_t kShutDown = 10058;            // WSAESHUTDOWN
inline constexpr std::uint32_t kTimedOut = 10060;            // WSAETIMEDOUT
inline constexpr std::uint32_t kConnectionRefused = 10061;   // WSAECONNREFUSED
inline constexpr std::uint32_t kHostDown = 10064;            // WSAEHOSTDOWN
inline constexpr std::uint32_t kHostUnreachable = 10065;     // WSAEHOSTUNREACH
inline constexpr std::uint32_t kHostNotFound = 11001;        // WSAHOST_NOT_FOUND
inline constexpr std::uint32_t kTryAgain = 11002;            // WSATRY_AGAIN
inline constexpr std::uint32_t kNoRecovery = 11003;          // WSANO_RECOVERY
inline constexpr std::uint32_t kNoData = 11004;              // WSANO_DATA
}  // namespace wsa

// The reason text of a socket error number; empty when the number has none.
Text SocketErrorReason(std::uint32_t code);

// The complete message: "Socket-Fehler # 10061Verbindung abgelehnt." + CR LF.
Text SocketErrorMessage(std::uint32_t code);

// A socket failure, carrying its number as OsCode().
class SocketError : public KorError {
 public:
  explicit SocketError(std::uint32_t code) : KorError(SocketErrorMessage(code), code) {}
};

[[noreturn]] void ThrowSocketError(std::uint32_t code);

}  // namespace korvex
