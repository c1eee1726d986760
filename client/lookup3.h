#pragma once
// Bob Jenkins' lookup3 hash, the little-endian variant (hashlittle). The desktop toast identity is
// derived from it, so its values must never change: they name registry keys and shortcuts that
// outlive the program.

#include <cstddef>
#include <cstdint>

namespace korvex {

// Hashes `length` bytes from `data` with `initval` as the seed. Reads the bytes one by one, so the
// result does not depend on the host's alignment or byte order.
std::uint32_t HashLittle(const void* data, std::size_t length, std::uint32_t initval);

}  // namespace korvex
