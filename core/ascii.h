#pragma once
// ASCII helpers for protocol text (header names, tokens, charset names), which is
// case-insensitive in ASCII only.

#include <algorithm>
#include <string>
#include <string_view>

namespace korvex {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

inline std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

// Header values are trimmed of blanks and tabs; markup also of line breaks and form feeds.
inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kMarkupSpace = " \t\r\n\f";

inline std::string_view Trim(std::string_view s, std::string_view space = kBlanks) {
  const auto first = s.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(space) - first + 1);
}

}  // namespace korvex
