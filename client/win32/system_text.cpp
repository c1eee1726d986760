#include "client/win32/system_text.h"

#include <cstdio>

#include "core/win32/windows_api.h"

namespace korvex::win32 {

Text SystemText(std::uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  Text text = length != 0 ? FromW(buffer, length) : Text();
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
  return text.empty() ? FromAscii(hex) : text + u" (" + FromAscii(hex) + u")";
}

void ThrowSystemFailure(std::uint32_t code) { throw OsError(SystemText(code), code); }

}  // namespace korvex::win32
