#pragma once
// The reversible text encoding under which the password is stored. It hides the password from a
// casual look at the registry; it is no protection (the key's access rights are).

#include <cstdint>

#include "core/text.h"

namespace korvex {

// Each code unit c up to 0xF3 becomes c + 12 as two upper-case hexadecimal digits. A larger one
// becomes "00" and c as four upper-case hexadecimal digits; plain pairs start at "0C", so "00" is
// free to mark the escape.
Text Verschluesseln(TextView password);

// Reverses Verschluesseln: "00" followed by four hexadecimal digits is that code unit; every other
// pair p is the code unit (p - 12) mod 65536. Lower-case digits count as upper-case ones; a last
// single character is ignored.
Text Entschluesseln(TextView stored);

// Reads hexadecimal digits (either case) from left to right into a 32-bit value; empty text is 0.
// Digits beyond the eighth push the leading ones out. A character that is no hexadecimal digit
// counts as the digit before it, which is what stored values edited by hand have always decoded
// to; with no digit before it, it counts 0.
std::int32_t HexToInt(TextView text);

}  // namespace korvex
