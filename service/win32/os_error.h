#pragma once
// Failed Win32 calls of the service program, with the address of the call that failed (shown by
// the "Anwendungsfehler" box).

#include <cstdint>

#include "core/error.h"
#include "core/win32/windows_api.h"

namespace korvex::win32 {

class SystemCallError : public OsError {
 public:
  SystemCallError(std::uint32_t code, std::uintptr_t address);
  std::uintptr_t Address() const noexcept { return address_; }

 private:
  std::uintptr_t address_;
};

// Throws SystemCallError for `code` (GetLastError() when omitted), naming the caller's address.
[[noreturn]] __attribute__((noinline)) void ThrowSystemError(DWORD code);
[[noreturn]] __attribute__((noinline)) void ThrowLastSystemError();

}  // namespace korvex::win32
