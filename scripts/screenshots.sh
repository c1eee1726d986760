#!/bin/bash
# Renders the client's windows to docs/screenshots/*.png under Xvfb: the main window, the setup
# dialog in both stages (login only; logged in with the host list), the about box, an error box
# and the balloon of a click on the tray icon. Builds nothing: it expects build/windows (Korvex.exe, korvex-drive.exe, install_test_ca.exe)
# and the native korvex-sim. The program runs against the local address service in a Wine prefix
# of its own (build/screenshots/wineprefix), driven by korvex-drive.exe; the client-area sizes it
# measures are printed.
#   bash scripts/screenshots.sh [--wide-fonts]
# --wide-fonts renders into build/screenshots-wide/ instead, with "MS Sans Serif" and "Tahoma"
# replaced by the wider DejaVu Sans, to see that no text of the windows is cut off under fonts
# other than the ones they were laid out with.
set -euo pipefail
wide=false
[ "${1:-}" = --wide-fonts ] && wide=true
export KORVEX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$KORVEX_ROOT"

win=$KORVEX_ROOT/build/windows
client_exe=$win/client/Korvex.exe
drive_exe=$win/tests/korvex-drive.exe
ca_exe=$win/tests/install_test_ca.exe
for file in "$client_exe" "$drive_exe" "$ca_exe" build/native/tools/simulator/korvex-sim; do
  [ -f "$file" ] || { echo "missing $file: build the native and the windows presets first" >&2; exit 1; }
done
command -v import >/dev/null || { echo "imagemagick is missing (scripts/setup.sh)" >&2; exit 1; }

work=$KORVEX_ROOT/build/screenshots
out=$KORVEX_ROOT/docs/screenshots
if $wide; then
  work=$KORVEX_ROOT/build/screenshots-wide
  out=$work/png
fi
prefix=$work/wineprefix
sim_dir=$work/simulator
mkdir -p "$work" "$out"

source scripts/xvfb.sh
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_run() { bash "$KORVEX_ROOT/cmake/wine-run.sh" "$prefix" "$@"; }
drive() { wine_run "$drive_exe" "$@"; }

client_pid=""
screenshots_cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" >/dev/null 2>&1 || true
  bash tools/simulator/run.sh stop "$sim_dir" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  kill "$korvex_xvfb_pid" >/dev/null 2>&1 || true
}
trap screenshots_cleanup EXIT

echo "== local address service"
KORVEX_SIM=$KORVEX_ROOT/build/native/tools/simulator/korvex-sim \
  bash tools/simulator/run.sh start "$sim_dir" >/dev/null
https_port=$(sed -n 's/^https=//p' "$sim_dir/ports")

echo "== Wine prefix with the simulator's CA and no saved settings"
wine_run cmd /c exit 0 >/dev/null  # makes the prefix on first use
# Wine's own Tahoma, MS Sans Serif and Marlett (fonts-wine), where this Wine looks for fonts first;
# without them the captions and the windows' texts fall back to other faces.
if [ -d /usr/share/wine/fonts ]; then
  cp -n /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
fi
if $wide; then
  substitutes='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  rm -f "$prefix"/drive_c/windows/Fonts/tahoma*.ttf "$prefix"/drive_c/windows/Fonts/ms_sans_serif*.ttf \
    "$prefix"/drive_c/windows/Fonts/sse*.fon
  for face in "MS Sans Serif" "Tahoma"; do
    wine_run reg add "$substitutes" /v "$face" /t REG_SZ /d "DejaVu Sans" /f >/dev/null
  done
fi
wine_run "$ca_exe" "Z:$sim_dir/certs/ca.der" >/dev/null
key='HKLM\Software\Korvex'
wine_run reg delete "$key" /reg:32 /f >/dev/null 2>&1 || true
# The host list is always fetched over HTTPS; the updates use HTTPS too.
wine_run reg add "$key" /reg:32 /v Serveradresse /t REG_SZ /d "localhost:$https_port" /f >/dev/null

# Crops the screen to a window's frame, as korvex-drive measures it.
shot() {
  local name=$1 caption=$2 geometry
  drive wait "$caption"
  sleep 0.5  # the window paints after it is shown; nothing to wait on from outside
  read -r left top width height < <(drive frame "$caption" | tr -d '\r')
  geometry="${width}x${height}+${left}+${top}"
  import -window root -crop "$geometry" +repage "$out/$name.png"
  echo "$name.png: $caption, frame $geometry, client area $(drive client "$caption" | tr -d '\r')"
}

echo "== first start: the setup dialog"
(cd "$work" && exec wine "$client_exe" </dev/null >"$work/client.out" 2>&1) &
client_pid=$!
setup="Korvex-Client Setup"
drive wait "$setup" 60
drive settext "$setup" Edit 0 korvex -- settext "$setup" Edit 1 geheim
shot setup-login "$setup"

# Enter in the password field presses the default button, Login.
drive key "$setup" Edit 1 RETURN -- shown "$setup" Button 1 30
drive pick "$setup" 0 0 -- pick "$setup" 1 0
shot setup-hosts "$setup"

echo "== an error box: saving an empty interval"
drive settext "$setup" Edit 2 "" -- click "$setup" Speichern
shot error Korvex
drive click Korvex OK -- gone Korvex

echo "== save: the main window runs its update, then goes to the tray"
drive settext "$setup" Edit 2 5 -- click "$setup" Speichern -- gone "$setup" 30
drive wait Korvex-Client 30 -- gone Korvex-Client 30

echo "== a click on the tray icon: the address as a balloon (Wine has no toasts)"
drive tray click
sleep 3  # the balloon fades in; nothing to wait on from outside
# The prefix's desktop is 1024 x 768 at the screen's origin, its tray in the lower right corner.
import -window root -crop "420x150+604+618" +repage "$out/balloon.png"
echo "balloon.png: the lower right corner of the desktop"

drive tray dblclick -- wait Korvex-Client 30
shot main Korvex-Client

echo "== about box"
drive menu Korvex-Client "?"
shot about Info
echo "main window while the about box is open: $(drive state Korvex-Client | tr -d '\r')"
drive click Info OK -- gone Info

drive close Korvex-Client
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
client_pid=""
ls -l "$out"
