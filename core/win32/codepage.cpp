// Code-page conversions through the OS.
#include "core/win32/windows_api.h"

#include <string>

#include "core/text.h"

namespace korvex {

std::string ToAnsi(TextView text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide, size, out.data(), needed, nullptr, nullptr);
  return out;
}

Text FromAnsi(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  Text out(static_cast<std::size_t>(needed), u'\0');
  ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(out.data()), needed);
  return out;
}

}  // namespace korvex
