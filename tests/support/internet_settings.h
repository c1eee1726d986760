#pragma once
// The current user's Internet connection settings in the Wine prefix, as the Internet options
// dialog stores them (Windows tests only). Tests set a direct connection without automatic proxy
// detection, so that no request looks for a proxy beyond the loopback interface.

#include <string>

namespace korvex::testing {

// A fixed proxy ("127.0.0.1:PORT"), or a direct connection for "".
bool SetUserProxy(const std::string& proxy);
// Back to no stored settings.
void RemoveUserProxy();

}  // namespace korvex::testing
