#!/bin/sh
# Renders the program icon and the logo bitmaps from the SVG sources in this folder into
# client/win32/res. The results are committed, so a build never needs these tools; run this
# again after changing a source. Debian tools only: rsvg-convert, icotool, ImageMagick.
# With --preview FILE it also writes a PNG sheet of all sizes to look at.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
res=$here/../win32/res
preview=
if [ "${1-}" = --preview ]; then preview=${2:?--preview needs a file name}; fi

missing=
command -v rsvg-convert >/dev/null 2>&1 || missing="$missing librsvg2-bin"
command -v icotool >/dev/null 2>&1 || missing="$missing icoutils"
convert -version 2>/dev/null | grep -q ImageMagick || missing="$missing imagemagick"
if [ -n "$missing" ]; then
  apt-get update -qq
  # shellcheck disable=SC2086 # one word per package
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$res"

# The full mark turns to mush below 32 pixels; the small sizes come from the simplified one.
icons=
for size in 16 20 24 32 40 48 64 256; do
  src=$here/icon.svg
  [ "$size" -le 24 ] && src=$here/icon-small.svg
  rsvg-convert -w "$size" -h "$size" -f png -o "$tmp/icon-$size.png" "$src"
  # Straight 8-bit RGBA without metadata, so icotool stores a 32-bit image with alpha.
  convert "$tmp/icon-$size.png" -strip -define png:color-type=6 "PNG32:$tmp/icon-$size.png"
  if [ "$size" -eq 256 ]; then icons="$icons -r $tmp/icon-$size.png"; else icons="$icons $tmp/icon-$size.png"; fi
done
# shellcheck disable=SC2086 # one word per image
icotool -c -o "$res/Korvex.ico" $icons

# Both windows have a white background, so the logo is a plain 24-bit bitmap on white.
bitmap() { # scale output
  rsvg-convert -z "$1" -f png -o "$tmp/logo.png" "$here/logo.svg"
  convert "$tmp/logo.png" -background white -alpha remove -alpha off -type TrueColor BMP3:"$2"
}
bitmap 1 "$res/logo.bmp"
bitmap 2 "$res/logo@2x.bmp"

if [ -n "$preview" ]; then
  row() { # background file
    set -- "$1" "$2"
    convert -background "$1" \
      "$tmp/icon-16.png" "$tmp/icon-24.png" "$tmp/icon-32.png" "$tmp/icon-48.png" \
      \( "$tmp/icon-16.png" -filter point -resize 800% \) \
      \( "$tmp/icon-24.png" -filter point -resize 800% \) \
      "$tmp/icon-256.png" -bordercolor "$1" -border 8 -gravity center +append "$2"
  }
  row white "$tmp/row-white.png"
  row '#202020' "$tmp/row-dark.png"
  convert -background '#e8e8e8' \
    "$tmp/row-white.png" "$tmp/row-dark.png" \
    \( "$res/logo.bmp" -gravity center -background white -extent 458x121 -bordercolor '#c0c0c0' -border 1 \) \
    \( "$res/logo.bmp" -bordercolor '#c0c0c0' -border 1 \) \
    \( "$res/logo@2x.bmp" -bordercolor '#c0c0c0' -border 1 \) \
    -bordercolor '#e8e8e8' -border 6 -gravity west -append "$preview"
fi
