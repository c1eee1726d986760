#pragma once
// The program's logo, drawn centred and transparent in the windows' picture areas. Two bitmaps,
// one at twice the size for high DPI; a 32-bit bitmap brings its own alpha channel, any other
// takes the colour of its bottom-left pixel as transparent.

#include "client/win32/dpi.h"

namespace korvex::win32 {

class Logo {
 public:
  Logo();
  // `area` in device pixels of a window at `dpi`.
  void Draw(HDC dc, const RECT& area, const Dpi& dpi) const;

 private:
  struct Image {
    ScopedGdiObject bitmap;
    SIZE size{};
    bool alpha = false;
  };
  static Image Load(int id);
  static void DrawImage(HDC dc, const Image& image, const RECT& target);

  Image normal_;
  Image large_;
};

}  // namespace korvex::win32
