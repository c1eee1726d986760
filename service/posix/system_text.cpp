#include <cstring>

#include "service/service_host.h"

namespace korvex {

Text SystemErrorText(std::uint32_t code) { return FromUtf8(std::strerror(static_cast<int>(code))); }

}  // namespace korvex
