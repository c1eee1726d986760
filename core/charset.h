#pragma once
// Turns an answer body into text: which charset the bytes are in (from the Content-Type header
// and, for HTML and XML, from the body itself), and the conversion, which the OS does.

#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"

namespace korvex {

// The charset name for a body with this Content-Type value; empty when nothing names one and no
// default applies.
std::string ChooseCharset(std::string_view contentType, std::string_view body);

// True for a name that may reach the OS's charset lookup: 1 to 64 ASCII letters, digits and
// "-", "_", ".", ":", "+", as IANA names are written. Anything else (a blank, "//IGNORE" that
// iconv would take as an option) is no charset in either build.
bool IsCharsetName(std::string_view name);

// Converts bytes in the named charset through the OS (iconv; MultiByteToWideChar with MLang's
// name lookup). Malformed input becomes U+FFFD. nullopt when the OS knows no such charset or
// the name is none (IsCharsetName).
std::optional<Text> DecodeCharset(std::string_view bytes, std::string_view charsetName);

// Each byte as the character with the same number.
Text BytesAsCharacters(std::string_view bytes);

// ChooseCharset, then DecodeCharset; bytes as characters when there is no charset or the OS does
// not know it.
Text DecodeBody(std::string_view body, std::string_view contentType);

}  // namespace korvex
