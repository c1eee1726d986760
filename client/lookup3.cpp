#include "client/lookup3.h"

namespace korvex {
namespace {

constexpr std::uint32_t Rotate(std::uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

// Reversibly mixes three words, so that every input bit reaches every output bit.
void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
  a -= c; a ^= Rotate(c, 4);  c += b;
  b -= a; b ^= Rotate(a, 6);  a += c;
  c -= b; c ^= Rotate(b, 8);  b += a;
  a -= c; a ^= Rotate(c, 16); c += b;
  b -= a; b ^= Rotate(a, 19); a += c;
  c -= b; c ^= Rotate(b, 4);  b += a;
}

// The last, irreversible mixing of the three words into c.
void Final(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
  c ^= b; c -= Rotate(b, 14);
  a ^= c; a -= Rotate(c, 11);
  b ^= a; b -= Rotate(a, 25);
  c ^= b; c -= Rotate(b, 16);
  a ^= c; a -= Rotate(c, 4);
  b ^= a; b -= Rotate(a, 14);
  c ^= b; c -= Rotate(b, 24);
}

// Up to four bytes as a little-endian word; missing bytes count as zero.
std::uint32_t Word(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < count && i < 4; ++i) word |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  return word;
}

}  // namespace

std::uint32_t HashLittle(const void* data, std::size_t length, std::uint32_t initval) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  std::uint32_t a = 0xdeadbeef + static_cast<std::uint32_t>(length) + initval;
  std::uint32_t b = a;
  std::uint32_t c = a;

  // Every full block of twelve but the last, which always goes through the final mix instead.
  while (length > 12) {
    a += Word(bytes, 4);
    b += Word(bytes + 4, 4);
    c += Word(bytes + 8, 4);
    Mix(a, b, c);
    bytes += 12;
    length -= 12;
  }
  if (length == 0) return c;  // only for empty input: the loop leaves 1 to 12 bytes otherwise

  a += Word(bytes, length);
  if (length > 4) b += Word(bytes + 4, length - 4);
  if (length > 8) c += Word(bytes + 8, length - 8);
  Final(a, b, c);
  return c;
}

}  // namespace korvex
