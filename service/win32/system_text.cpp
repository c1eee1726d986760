#include "core/win32/windows_api.h"
#include "service/service_host.h"
#include "service/win32/os_error.h"

namespace korvex {

Text SystemErrorText(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text = length != 0 ? win32::FromW(buffer, length) : Text();
  if (buffer != nullptr) ::LocalFree(buffer);
  return text;
}

namespace win32 {

SystemCallError::SystemCallError(std::uint32_t code, std::uintptr_t address)
    : OsError(OsErrorMessage(code, SystemErrorText(code)), code), address_(address) {}

void ThrowSystemError(DWORD code) {
  throw SystemCallError(code, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

void ThrowLastSystemError() {
  const DWORD code = ::GetLastError();
  throw SystemCallError(code, reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

}  // namespace win32
}  // namespace korvex
