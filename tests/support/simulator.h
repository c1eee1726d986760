#pragma once
// The local address service (korvex-sim) that the ctest fixture "simulator" starts for tests
// named *_sim_test: its ports, the test CA that signed its certificate, its request log and its
// host table. The accounts below are those of tools/simulator/accounts.txt.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"

namespace korvex::testing {

inline constexpr char16_t kSimUser[] = u"korvex";
inline constexpr char16_t kSimPassword[] = u"geheim";
inline constexpr char16_t kSimHost[] = u"haus.korvex.test";
// An account whose every value needs percent-encoding.
inline constexpr char16_t kSimSpecialUser[] = u"J\u00FCrgen \u00C4";
inline constexpr char16_t kSimSpecialPassword[] = u"p&w #+%?=\u00E4\u20AC/";
inline constexpr char16_t kSimSpecialHost[] = u"b\u00FCro&x.korvex.test";
// An account as a user of the setup dialog has it: a password with "&", a blank and an umlaut,
// and two host names to pick from.
inline constexpr char16_t kSimAnnaUser[] = u"anna";
inline constexpr char16_t kSimAnnaPassword[] = u"Gr&n \u00F6l";
inline constexpr char16_t kSimAnnaHosts[][20] = {u"heim.korvex.test", u"laube.korvex.test"};

// One request as the simulator logged it: "scheme", "method", "target", "path", "version",
// "remote", "remote_port", "status", "answer", "param.NAME" (decoded query values, UTF-8) and
// "header.NAME" (as received).
struct SimRequest {
  std::map<std::string, std::string> fields;
  // The field's value, or "" when the request has none.
  std::string operator[](const std::string& name) const;
};

class Simulator {
 public:
  // The running fixture's simulator, or nothing when its port file is missing.
  static std::optional<Simulator> Find();

  std::uint16_t HttpPort() const { return httpPort_; }
  std::uint16_t HttpsPort() const { return httpsPort_; }
  // "127.0.0.1:PORT" for HTTP and "localhost:PORT" for HTTPS (the certificate's name).
  Text HttpHost() const;
  Text HttpsHost() const;
  // "localhost:PORT" of the port that serves both, told apart by the first byte: a service host
  // for a program whose transport changes.
  Text MixedHost() const;
  std::string CaFile() const;  // PEM of the CA that signed the simulator's certificate
  std::string Dir() const { return dir_; }

  // A mark in the request log; RequestsSince returns what was logged after it.
  std::size_t LogMark() const;
  // Waits (up to `deadline`) until at least `count` requests were logged after `mark`. The
  // simulator logs a request before it answers, so a client's answered requests are there.
  std::vector<SimRequest> RequestsSince(std::size_t mark, std::size_t count,
                                        std::chrono::milliseconds deadline =
                                            std::chrono::seconds(10)) const;
  // The last address recorded for `host` (UTF-8), "-" for none, "" for an unknown host.
  std::string AddressOf(const std::string& host) const;
  // From now on /update.php answers with this status line ("500 Internal Server Error"), until
  // ClearUpdateFault.
  void SetUpdateFault(const std::string& status) const;
  void ClearUpdateFault() const;
  // While on, every /ip.php answers another address.
  void SetChangingAddress(bool on) const;

 private:
  std::string dir_;
  std::uint16_t httpPort_ = 0;
  std::uint16_t httpsPort_ = 0;
  std::uint16_t mixedPort_ = 0;
};

}  // namespace korvex::testing
