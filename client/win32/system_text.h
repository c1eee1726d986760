#pragma once
// Failed system calls of the client's Win32 layer, with the system's own message text.

#include <cstdint>

#include "core/error.h"

namespace korvex::win32 {

// The system's message for a Win32 error or an HRESULT, with the code in hexadecimal.
Text SystemText(std::uint32_t code);
[[noreturn]] void ThrowSystemFailure(std::uint32_t code);

}  // namespace korvex::win32
