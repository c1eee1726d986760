#pragma once
// The Windows build's TLS peers, started by the ctest fixture tls_servers
// (tests/fixtures/tls_servers.sh): trusted, selfsigned, wrongname, tls11, optcert,
// www.

#include <cstdint>
#include <string>

namespace korvex::testing {

// The loopback port of the named server; throws when the fixture is not running.
std::uint16_t TlsServerPort(const std::string& name);

}  // namespace korvex::testing
