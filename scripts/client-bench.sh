#!/bin/bash
# Prints two figures of Korvex.exe under Wine (after a Windows build): the time from process start
# to the main window on screen, in starts that alternate with a minimal Win32 program showing a
# window of the same size (korvex-minimal.exe), as both medians and their ratio; and the wake-ups of
# the client while it sits hidden in the tray between two ticks of its update timer (context
# switches summed over all its threads).
#   bash scripts/client-bench.sh [STARTS] [IDLE-SECONDS]
set -euo pipefail
export KORVEX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$KORVEX_ROOT"
starts=${1:-5}
idle=${2:-120}

win=$KORVEX_ROOT/build/windows
for file in "$win/client/Korvex.exe" "$win/tests/korvex-drive.exe" "$win/tests/korvex-minimal.exe" \
  build/native/tools/simulator/korvex-sim; do
  [ -f "$file" ] || { echo "missing $file: build the native and the windows presets first" >&2; exit 1; }
done

work=$KORVEX_ROOT/build/client-bench
prefix=$work/wineprefix
sim_dir=$work/simulator
source scripts/xvfb.sh
export WINEPREFIX=$prefix
wine_run() { bash "$KORVEX_ROOT/cmake/wine-run.sh" "$prefix" "$@"; }
drive() { wine_run "$win/tests/korvex-drive.exe" "$@"; }
bench_cleanup() {
  bash tools/simulator/run.sh stop "$sim_dir" >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true  # this prefix's programs only
  kill "$korvex_xvfb_pid" >/dev/null 2>&1 || true
}
trap bench_cleanup EXIT

KORVEX_SIM=$KORVEX_ROOT/build/native/tools/simulator/korvex-sim \
  bash tools/simulator/run.sh start "$sim_dir" >/dev/null
http_port=$(sed -n 's/^http=//p' "$sim_dir/ports")
wine_run cmd /c exit 0 >/dev/null
key='HKLM\Software\Korvex'
reg_add() { wine_run reg add "$key" /reg:32 /v "$1" /t "$2" /d "$3" /f >/dev/null; }
reg_add Serveradresse REG_SZ "127.0.0.1:$http_port"
reg_add Benutzername REG_SZ korvex
reg_add Passwort REG_SZ 737174717579  # "geheim", as the setup dialog stores it
reg_add Hostname REG_SZ haus.korvex.test
reg_add UpdateIntervall REG_DWORD 5
reg_add Updateart REG_SZ HTTP
reg_add Einstellungen REG_SZ Ja

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

echo "== start to window on screen, $starts starts each, alternating: Korvex.exe (saved settings: its"
echo "   start-up update against the simulator first) and korvex-minimal.exe (a window of the same size)"
# Wine starts its desktop with the first window of a prefix and ends it a few seconds after the
# last; on Windows the desktop is always there. One window that stays for the whole run keeps it,
# so that neither program pays for it.
(wine "$win/tests/korvex-minimal.exe" Korvex-Desktop </dev/null >/dev/null 2>&1 &)
drive wait Korvex-Desktop 60 >/dev/null
client_times=()
minimal_times=()
for i in $(seq "$starts"); do
  ms=$(drive launch "Z:$win/tests/korvex-minimal.exe" Korvex-Minimal | tr -d '\r')
  minimal_times+=("$ms")
  drive close Korvex-Minimal >/dev/null
  drive gone Korvex-Minimal >/dev/null || true
  sleep 1
  ms=$(drive launch "Z:$win/client/Korvex.exe" Korvex-Client | tr -d '\r')
  client_times+=("$ms")
  echo "start $i: Korvex.exe $ms ms, korvex-minimal.exe ${minimal_times[-1]} ms"
  [ "$i" -lt "$starts" ] && { drive menu Korvex-Client Datei/Beenden >/dev/null; drive gone Korvex-Client >/dev/null || true; sleep 1; }
done
client_median=$(printf '%s\n' "${client_times[@]}" | median)
minimal_median=$(printf '%s\n' "${minimal_times[@]}" | median)
echo "median Korvex.exe: $client_median ms, median korvex-minimal.exe: $minimal_median ms," \
  "ratio: $(awk -v a="$client_median" -v b="$minimal_median" 'BEGIN {printf "%.2f", a / b}')x"

echo "== idle in the tray: $idle s, update timer at 5 minutes"
drive gone Korvex-Client 30 >/dev/null
# This worktree's client, as Wine names it in the process list.
pid=$(pgrep -af 'Korvex\.exe' | grep -F "Z:$win/client/Korvex.exe" | awk 'NR == 1 {print $1}')
switches() { cat /proc/"$pid"/task/*/status | awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n}'; }
sleep 5  # let the hide settle
before=$(switches)
sleep "$idle"
after=$(switches)
echo "threads: $(ls /proc/"$pid"/task | wc -l), context switches in $idle s: $((after - before))"
drive menu Korvex-Client Datei/Beenden >/dev/null
drive close Korvex-Desktop >/dev/null
