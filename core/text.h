#pragma once
// Text is UTF-16 in memory everywhere; 8-bit forms exist only at the edges (wire, log, URL).

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace korvex {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 <-> UTF-16. Unpaired surrogates and malformed bytes become U+FFFD.
std::string ToUtf8(TextView text);
Text FromUtf8(std::string_view bytes);

// The system ANSI code page (Windows: CP_ACP; elsewhere Windows-1252). Characters the code page
// cannot represent become its default character.
std::string ToAnsi(TextView text);
Text FromAnsi(std::string_view bytes);

// ASCII-only text for constants and protocol words.
Text FromAscii(std::string_view ascii);

// Fills "%s" and "%d" placeholders of a message pattern from left to right; "%%" is a "%".
Text Format(TextView pattern, std::initializer_list<TextView> args);
Text ToText(std::int64_t number);

// Lines ending at CR LF, a lone CR or a lone LF; a break at the very end adds no line, and an
// empty line inside the text is a line of its own.
std::vector<Text> SplitLines(TextView text);

}  // namespace korvex
