#pragma once
// Byte streams under the address client: a TCP socket, or TLS on top of one.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace korvex {

// Every call throws KorError with the German socket message ("Socket-Fehler # %d%s" + CR LF)
// on failure; an expired time-out is socket error 10060.
class Stream {
 public:
  virtual ~Stream() = default;
  virtual void Write(std::string_view bytes) = 0;
  // Reads at most `size` bytes, blocking until at least one arrives; 0 means the peer closed.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  // True when the peer has closed or reset the connection; never blocks. An idle connection
  // that is still open gives false.
  virtual bool PeerClosed() = 0;
};

class Socket : public Stream {
 public:
  // The OS socket (SOCKET or file descriptor), for a TLS library that wants it.
  virtual std::intptr_t NativeHandle() const = 0;
};

class Connector {
 public:
  virtual ~Connector() = default;
  // Resolves `host` to an IPv4 address (a dotted address is taken as it is), connects, and sets
  // TCP_NODELAY and the connect, send and receive time-outs.
  virtual std::unique_ptr<Socket> Connect(const std::string& host, std::uint16_t port) = 0;
};

// Milliseconds for each of connect, send and receive on every connection.
inline constexpr std::uint32_t kSocketTimeoutMs = 30000;

// The operating system's sockets.
std::unique_ptr<Connector> MakeSystemConnector(std::uint32_t timeoutMs = kSocketTimeoutMs);

}  // namespace korvex
