#include "tests/support/tls_servers.h"

#include <fstream>
#include <map>
#include <stdexcept>

namespace korvex::testing {

std::uint16_t TlsServerPort(const std::string& name) {
  static const std::map<std::string, std::uint16_t> ports = [] {
    std::map<std::string, std::uint16_t> found;
    std::ifstream file(std::string(KORVEX_TLS_SERVERS) + "/ports");
    std::string line;
    while (std::getline(file, line)) {
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      found[line.substr(0, equals)] = static_cast<std::uint16_t>(std::stoi(line.substr(equals + 1)));
    }
    return found;
  }();
  const auto port = ports.find(name);
  if (port == ports.end()) throw std::runtime_error("no TLS server " + name + "; is the tls_servers fixture running?");
  return port->second;
}

}  // namespace korvex::testing
