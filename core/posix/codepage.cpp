// Code-page conversions through iconv. There is no ANSI code page on Linux; Windows-1252 stands in.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "core/charset.h"
#include "core/text.h"

namespace korvex {
namespace {

constexpr const char* kAnsiCharset = "WINDOWS-1252";
constexpr char kAnsiDefaultChar = '?';

void AppendUtf16Le(const char* bytes, std::size_t size, Text& out) {
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Valid()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // Converts one unit of input; false when the target cannot represent it.
  bool Convert(const char* in, std::size_t inSize, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[16];
    char* inPtr = const_cast<char*>(in);
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(cd_, &inPtr, &inSize, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return false;
    out.append(buffer, outPtr);
    return true;
  }

  // Converts a whole byte string to UTF-16; each malformed byte and a cut-off sequence at the
  // end become U+FFFD.
  Text ToUtf16(std::string_view bytes);

 private:
  iconv_t cd_;
};

Text Iconv::ToUtf16(std::string_view bytes) {
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  Text out;
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char buffer[4096];
  while (true) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const bool flushing = inLeft == 0;
    const std::size_t result =
        flushing ? iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) : iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
    const int error = errno;
    AppendUtf16Le(buffer, static_cast<std::size_t>(outPtr - buffer), out);
    if (flushing) break;
    if (result != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    out += u'\uFFFD';
    if (error == EILSEQ && inLeft > 0) {
      ++in;
      --inLeft;
    } else {
      in += inLeft;  // EINVAL: the input ends inside a sequence
      inLeft = 0;
    }
  }
  return out;
}

}  // namespace

// The ANSI converters stay open for the thread's life: closing the last descriptor of a code page
// makes glibc unload its module, which then loads again at the next conversion.
std::string ToAnsi(TextView text) {
  thread_local Iconv conv(kAnsiCharset, "UTF-16LE");
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char bytes[4];
    std::size_t units = 1;
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) units = 2;
    for (std::size_t k = 0; k < units; ++k) {
      bytes[2 * k] = static_cast<char>(text[i + k] & 0xFF);
      bytes[2 * k + 1] = static_cast<char>(text[i + k] >> 8);
    }
    if (!conv.Valid() || !conv.Convert(bytes, 2 * units, out)) out += kAnsiDefaultChar;
    i += units - 1;
  }
  return out;
}

Text FromAnsi(std::string_view bytes) {
  thread_local Iconv conv("UTF-16LE", kAnsiCharset);
  Text out;
  for (char byte : bytes) {
    std::string utf16;
    if (conv.Valid() && conv.Convert(&byte, 1, utf16) && utf16.size() == 2) {
      out += static_cast<char16_t>(static_cast<unsigned char>(utf16[0]) |
                                   (static_cast<unsigned char>(utf16[1]) << 8));
    } else {
      out += static_cast<char16_t>(static_cast<unsigned char>(byte));
    }
  }
  return out;
}

std::optional<Text> DecodeCharset(std::string_view bytes, std::string_view charsetName) {
  if (!IsCharsetName(charsetName)) return std::nullopt;
  const std::string name(charsetName);
  Iconv conv("UTF-16LE", name.c_str());
  if (!conv.Valid()) return std::nullopt;
  return conv.ToUtf16(bytes);
}

}  // namespace korvex
