#include "client/win32/dpi.h"

#include <cwchar>

namespace korvex::win32 {

Dpi Dpi::ForWindow(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return Dpi(getDpiForWindow != nullptr && window != nullptr ? getDpiForWindow(window) : kDefaultDpi);
}

ScopedGdiObject MakeFont(const wchar_t* face, int pixels, bool bold, const Dpi& dpi) {
  LOGFONTW font{};
  font.lfHeight = -dpi.Scale(pixels);
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_DEFAULT_PRECIS;
  font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
  std::wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
  return ScopedGdiObject(::CreateFontIndirectW(&font));
}

SIZE TextExtent(HFONT font, const wchar_t* text) {
  SIZE size{};
  HDC dc = ::GetDC(nullptr);
  {
    SelectedObject selected(dc, font);
    ::GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &size);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    size.cy = metrics.tmHeight;
  }
  ::ReleaseDC(nullptr, dc);
  return size;
}

int WrappedTextHeight(HFONT font, const wchar_t* text, int width) {
  RECT bounds{0, 0, width, 0};
  HDC dc = ::GetDC(nullptr);
  {
    SelectedObject selected(dc, font);
    ::DrawTextW(dc, text, -1, &bounds, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  }
  ::ReleaseDC(nullptr, dc);
  return bounds.bottom - bounds.top;
}

}  // namespace korvex::win32
