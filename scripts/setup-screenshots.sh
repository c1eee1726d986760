#!/bin/bash
# Renders each page of the setup program to docs/screenshots/installer-*.png under Xvfb: welcome,
# components, progress and finish. It installs for real, in a Wine prefix of its own
# (build/setup-screenshots/wineprefix). Builds nothing: it expects dist/KorvexSetup-<version>.exe
# (scripts/package.sh) and build/windows/tests/korvex-drive.exe.
set -euo pipefail
export KORVEX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$KORVEX_ROOT"

version=$(sed -n 's/^project(Korvex VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
setup_exe=$KORVEX_ROOT/dist/KorvexSetup-$version.exe
drive_exe=$KORVEX_ROOT/build/windows/tests/korvex-drive.exe
for file in "$setup_exe" "$drive_exe"; do
  [ -f "$file" ] || { echo "missing $file: run scripts/package.sh and build the windows preset first" >&2; exit 1; }
done

work=$KORVEX_ROOT/build/setup-screenshots
prefix=$work/wineprefix
out=$KORVEX_ROOT/docs/screenshots
rm -rf "$prefix"
mkdir -p "$work" "$out"

source scripts/xvfb.sh
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_run() { bash "$KORVEX_ROOT/cmake/wine-run.sh" "$prefix" "$@"; }
drive() { wine_run "$drive_exe" "$@"; }

setup_pid=""
screenshots_cleanup() {
  [ -n "$setup_pid" ] && kill "$setup_pid" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  kill "$korvex_xvfb_pid" >/dev/null 2>&1 || true
}
trap screenshots_cleanup EXIT

wine_run cmd /c exit 0 >/dev/null  # makes the prefix on first use
if [ -d /usr/share/wine/fonts ]; then
  cp -n /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
fi

# The setup window's caption changes from page to page: take it from the X server.
caption() {
  xwininfo -root -tree | sed -n 's/^ *0x[0-9a-f]* "\([^"]*Korvex[^"]*\)": ("korvexsetup.*/\1/p' | head -1
}
shot() {
  local name=$1 geometry
  sleep 0.5  # the page paints after it is shown; nothing to wait on from outside
  read -r left top width height < <(drive frame "$(caption)" | tr -d '\r')
  geometry="${width}x${height}+${left}+${top}"
  import -window root -crop "$geometry" +repage "$out/$name.png"
  echo "$name.png: \"$(caption)\", frame $geometry"
}
has_button() { drive controls "$(caption)" | tr -d '\r' | grep -q "\"$1\""; }
until_button() {
  for _ in $(seq 150); do has_button "$1" && return 0; sleep 0.2; done
  echo "no button $1" >&2
  return 1
}

(cd "$work" && exec wine "$setup_exe" </dev/null >"$work/setup.out" 2>&1) &
setup_pid=$!
for _ in $(seq 300); do [ -n "$(caption)" ] && break; sleep 0.2; done
until_button "&Weiter >"
shot installer-welcome
drive click "$(caption)" "&Weiter >"
until_button "&Installieren"
shot installer-components
drive click "$(caption)" "&Installieren"
# The progress page shows for as long as Windows Installer runs, a few seconds.
sleep 0.5
shot installer-progress
until_button "&Fertigstellen"
shot installer-finish
ls -l "$out"/installer-*.png
