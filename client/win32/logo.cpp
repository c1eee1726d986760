#include "client/win32/logo.h"

#include <algorithm>

#include "client/win32/resource.h"
#include "client/win32/window.h"

namespace korvex::win32 {

Logo::Logo() : normal_(Load(IDB_LOGO)), large_(Load(IDB_LOGO_2X)) {}

Logo::Image Logo::Load(int id) {
  Image image;
  image.bitmap.Reset(::LoadImageW(ProgramInstance(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  DIBSECTION dib{};
  if (!image.bitmap || ::GetObjectW(image.bitmap.Get(), sizeof dib, &dib) == 0) return image;
  image.size = {dib.dsBm.bmWidth, std::abs(dib.dsBm.bmHeight)};
  if (dib.dsBm.bmBitsPixel != 32 || dib.dsBm.bmBits == nullptr) return image;
  // AlphaBlend wants premultiplied colours; a 32-bit bitmap whose alpha is all zero has none.
  auto* pixels = static_cast<BYTE*>(dib.dsBm.bmBits);
  const std::size_t count = static_cast<std::size_t>(image.size.cx) * image.size.cy;
  for (std::size_t p = 0; p < count && !image.alpha; ++p) image.alpha = pixels[p * 4 + 3] != 0;
  if (image.alpha) {
    for (std::size_t p = 0; p < count; ++p) {
      BYTE* pixel = pixels + p * 4;
      for (int c = 0; c < 3; ++c) pixel[c] = static_cast<BYTE>(pixel[c] * pixel[3] / 255);
    }
  }
  return image;
}

void Logo::DrawImage(HDC dc, const Image& image, const RECT& target) {
  HDC memory = ::CreateCompatibleDC(dc);
  {
    SelectedObject selected(memory, image.bitmap.Get());
    const int width = target.right - target.left;
    const int height = target.bottom - target.top;
    if (image.alpha) {
      const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      ::AlphaBlend(dc, target.left, target.top, width, height, memory, 0, 0, image.size.cx, image.size.cy, blend);
    } else {
      const COLORREF transparent = ::GetPixel(memory, 0, image.size.cy - 1);
      ::TransparentBlt(dc, target.left, target.top, width, height, memory, 0, 0, image.size.cx, image.size.cy,
                       transparent);
    }
  }
  ::DeleteDC(memory);
}

void Logo::Draw(HDC dc, const RECT& area, const Dpi& dpi) const {
  const bool useLarge = dpi.Value() > kDefaultDpi * 5 / 4 && large_.bitmap;
  const Image& image = useLarge || !normal_.bitmap ? large_ : normal_;
  if (!image.bitmap) return;
  const int scaleBase = &image == &large_ ? 2 * kDefaultDpi : kDefaultDpi;
  int width = ::MulDiv(image.size.cx, static_cast<int>(dpi.Value()), scaleBase);
  int height = ::MulDiv(image.size.cy, static_cast<int>(dpi.Value()), scaleBase);
  const int areaWidth = area.right - area.left;
  const int areaHeight = area.bottom - area.top;
  // Too large for its area: shrunk, keeping its proportions.
  if (width > areaWidth || height > areaHeight) {
    if (static_cast<long long>(width) * areaHeight > static_cast<long long>(height) * areaWidth) {
      height = ::MulDiv(height, areaWidth, width);
      width = areaWidth;
    } else {
      width = ::MulDiv(width, areaHeight, height);
      height = areaHeight;
    }
  }
  const int left = area.left + (areaWidth - width) / 2;
  const int top = area.top + (areaHeight - height) / 2;
  DrawImage(dc, image, RECT{left, top, left + width, top + height});
}

}  // namespace korvex::win32
