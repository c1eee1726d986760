// Code-page conversions through the OS.
#include "core/win32/windows_api.h"

#include <mlang.h>
#include <objbase.h>
#include <oleauto.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/charset.h"
#include "core/text.h"

namespace korvex {

std::string ToAnsi(TextView text) {
  if (text.empty()) return {};
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int size = static_cast<int>(text.size());
  // Without WC_NO_BEST_FIT_CHARS a character outside the code page becomes a look-alike ("A"
  // for U+0100, "8" for the infinity sign) instead of the default character, in the update URL
  // too. A UTF-8 ANSI code page represents everything and refuses the flag.
  const DWORD flags = ::GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int needed = ::WideCharToMultiByte(CP_ACP, flags, wide, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, flags, wide, size, out.data(), needed, nullptr, nullptr);
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

namespace {

// MinGW's import libraries do not carry these two; the values are MLang's published GUIDs.
constexpr GUID kClsidMultiLanguage = {0x275c23e2, 0x3747, 0x11d0, {0x9f, 0xea, 0x00, 0xaa, 0x00, 0x3f, 0x86, 0x46}};
constexpr GUID kIidMultiLanguage2 = {0xdccfc164, 0x2b38, 0x11d2, {0xb7, 0xec, 0x00, 0xc0, 0x4f, 0x8f, 0x5d, 0x9a}};

constexpr UINT kUtf16Le = 1200;
constexpr UINT kUtf16Be = 1201;

struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};
struct BstrFree {
  void operator()(OLECHAR* text) const { ::SysFreeString(text); }
};

// Balances a successful CoInitializeEx; a thread that already runs COM in another model keeps it.
class ComScope {
 public:
  ComScope() : initialized_(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (initialized_) ::CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialized_;
};

// The code page of a charset name through the system's own charset registry.
std::optional<UINT> CodePageFromMLang(const Text& name) {
  ComScope com;
  IMultiLanguage2* raw = nullptr;
  if (FAILED(::CoCreateInstance(kClsidMultiLanguage, nullptr, CLSCTX_INPROC_SERVER, kIidMultiLanguage2,
                                reinterpret_cast<void**>(&raw))) ||
      raw == nullptr) {
    return std::nullopt;
  }
  const std::unique_ptr<IMultiLanguage2, ComRelease> multiLanguage(raw);
  const std::unique_ptr<OLECHAR, BstrFree> bstr(::SysAllocString(reinterpret_cast<const OLECHAR*>(name.c_str())));
  if (!bstr) return std::nullopt;
  MIMECSETINFO info{};
  if (FAILED(multiLanguage->GetCharsetInfo(bstr.get(), &info))) return std::nullopt;
  return info.uiInternetEncoding;
}

// Common IANA names, for a system where MLang is not available.
std::optional<UINT> CodePageFromTable(const std::string& lowerName) {
  static constexpr struct {
    std::string_view name;
    UINT codePage;
  } kNames[] = {
      {"utf-8", CP_UTF8},          {"us-ascii", 20127},        {"ascii", 20127},
      {"iso-8859-1", 28591},       {"latin1", 28591},          {"iso-8859-2", 28592},
      {"iso-8859-5", 28595},       {"iso-8859-7", 28597},      {"iso-8859-9", 28599},
      {"iso-8859-15", 28605},      {"windows-1250", 1250},     {"windows-1251", 1251},
      {"windows-1252", 1252},      {"windows-1253", 1253},     {"windows-1254", 1254},
      {"koi8-r", 20866},           {"shift_jis", 932},         {"euc-jp", 20932},
      {"gb2312", 936},             {"big5", 950},              {"euc-kr", 949},
      {"utf-16", kUtf16Le},        {"utf-16le", kUtf16Le},     {"utf-16be", kUtf16Be},
  };
  for (const auto& entry : kNames) {
    if (entry.name == lowerName) return entry.codePage;
  }
  return std::nullopt;
}

Text Utf16FromBytes(std::string_view bytes, bool bigEndian) {
  Text out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    out += static_cast<char16_t>(bigEndian ? (first << 8) | second : first | (second << 8));
  }
  if (bytes.size() % 2 != 0) out += u'\uFFFD';
  return out;
}

}  // namespace

std::optional<Text> DecodeCharset(std::string_view bytes, std::string_view charsetName) {
  if (!IsCharsetName(charsetName)) return std::nullopt;
  std::string lower(charsetName);
  for (char& c : lower) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  std::optional<UINT> codePage = CodePageFromMLang(BytesAsCharacters(lower));
  if (!codePage) codePage = CodePageFromTable(lower);
  if (!codePage) return std::nullopt;
  if (*codePage == kUtf16Le || *codePage == kUtf16Be) return Utf16FromBytes(bytes, *codePage == kUtf16Be);
  if (!::IsValidCodePage(*codePage)) return std::nullopt;
  if (bytes.empty()) return Text();
  const int size = static_cast<int>(bytes.size());
  const int needed = ::MultiByteToWideChar(*codePage, 0, bytes.data(), size, nullptr, 0);
  if (needed <= 0) return std::nullopt;
  Text out(static_cast<std::size_t>(needed), u'\0');
  ::MultiByteToWideChar(*codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(out.data()), needed);
  return out;
}

}  // namespace korvex
