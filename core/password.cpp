#include "core/password.h"

#include <optional>

namespace korvex {
namespace {

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
// Plain pairs encode code units up to this one; larger ones are escaped.
constexpr char16_t kLargestPlainCodeUnit = 0xF3;
constexpr char16_t kPairOffset = 12;
constexpr TextView kEscape = u"00";
constexpr std::size_t kEscapedDigits = 4;

std::optional<std::uint32_t> HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return std::nullopt;
}

bool AllHexDigits(TextView text) {
  for (char16_t c : text) {
    if (!HexDigit(c)) return false;
  }
  return true;
}

void AppendHex(Text& out, std::uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out += static_cast<char16_t>(kUpperHexDigits[(value >> shift) & 0xF]);
  }
}

}  // namespace

Text Verschluesseln(TextView password) {
  Text stored;
  stored.reserve(password.size() * 2);
  for (char16_t c : password) {
    if (c <= kLargestPlainCodeUnit) {
      AppendHex(stored, c + kPairOffset, 2);
    } else {
      stored += kEscape;
      AppendHex(stored, c, kEscapedDigits);
    }
  }
  return stored;
}

Text Entschluesseln(TextView stored) {
  Text password;
  std::size_t pos = 0;
  while (stored.size() - pos >= 2) {
    TextView pair = stored.substr(pos, 2);
    TextView escaped = stored.substr(pos + 2, kEscapedDigits);
    if (pair == kEscape && escaped.size() == kEscapedDigits && AllHexDigits(escaped)) {
      password += static_cast<char16_t>(HexToInt(escaped));
      pos += 2 + kEscapedDigits;
    } else {
      password += static_cast<char16_t>(static_cast<std::uint32_t>(HexToInt(pair)) - kPairOffset);
      pos += 2;
    }
  }
  return password;
}

std::int32_t HexToInt(TextView text) {
  std::uint32_t value = 0;
  std::uint32_t digit = 0;
  for (char16_t c : text) {
    if (auto d = HexDigit(c)) digit = *d;
    value = value * 16 + digit;
  }
  return static_cast<std::int32_t>(value);
}

}  // namespace korvex
