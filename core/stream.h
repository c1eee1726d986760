#pragma once
// Byte streams under the address client: a TCP socket, or TLS on top of one.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace korvex {

using Deadline = std::chrono::steady_clock::time_point;

// Every call throws KorError with the German socket message ("Socket-Fehler # %d%s" + CR LF)
// on failure; an expired time-out is socket error 10060.
class Stream {
 public:
  virtual ~Stream() = default;
  virtual void Write(std::string_view bytes) = 0;
  // Reads at most `size` bytes, blocking until at least one arrives; 0 means the peer closed.
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
  // True when an idle connection cannot carry another request: the peer closed or reset it, or
  // sent bytes that nobody asked for (an answer to nothing, typically a 408 before its close).
  // Never blocks. An idle connection that is still open and silent gives false.
  virtual bool Stale() = 0;
  // Reads and writes fail with socket error 10060 once `deadline` has passed, and a read waits
  // no longer than until it: the bound of a whole request, beside the time-out of each read.
  virtual void SetDeadline(Deadline deadline) = 0;
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
