#pragma once
// The client's one DPI helper: geometry and fonts are given at 96 dpi and scaled by the DPI of
// the monitor the window is on, and GDI objects are owned by RAII.

#include "core/win32/windows_api.h"

namespace korvex::win32 {

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};
struct IconTraits {
  using Handle = HICON;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::DestroyIcon(h); }
};
using ScopedGdiObject = ScopedHandle<GdiObjectTraits>;
using ScopedIcon = ScopedHandle<IconTraits>;

// Selects an object into a DC for the lifetime of this object.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), old_(::SelectObject(dc, object)) {}
  ~SelectedObject() { ::SelectObject(dc_, old_); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

inline constexpr UINT kDefaultDpi = 96;

class Dpi {
 public:
  explicit Dpi(UINT value = kDefaultDpi) : value_(value == 0 ? kDefaultDpi : value) {}
  // GetDpiForWindow where the system has it (Windows 10 1607 and later), otherwise 96.
  static Dpi ForWindow(HWND window);
  UINT Value() const { return value_; }
  int Scale(int pixels) const { return ::MulDiv(pixels, static_cast<int>(value_), kDefaultDpi); }
  RECT Scale(const RECT& rect) const {
    return {Scale(rect.left), Scale(rect.top), Scale(rect.right), Scale(rect.bottom)};
  }

 private:
  UINT value_;
};

// A font of `pixels` character height at 96 dpi (the negative LOGFONT height), scaled.
ScopedGdiObject MakeFont(const wchar_t* face, int pixels, bool bold, const Dpi& dpi);

// Width and height of `text` in `font`, as an auto-sized label needs them.
SIZE TextExtent(HFONT font, const wchar_t* text);
// The height of `text` in `font` broken into lines of at most `width` pixels at word boundaries,
// as a label with word wrap draws it.
int WrappedTextHeight(HFONT font, const wchar_t* text, int width);

}  // namespace korvex::win32
