#!/bin/bash
# The main job, on one machine: builds both programs, starts the local address service, stores the
# settings in a Wine prefix of its own, installs and starts KorvexService under Wine's service
# control manager, waits for its first completed update (one minute after the start), prints the
# log line and what the address service recorded, then stops and removes the service.
set -euo pipefail
export KORVEX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$KORVEX_ROOT"

bash scripts/setup.sh

echo "== build: the local address service (Linux) and KorvexService.exe (Windows)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target korvex-sim
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target KorvexService Korvex

source scripts/xvfb.sh
demo=$KORVEX_ROOT/build/demo
prefix=$demo/wineprefix
sim_dir=$demo/simulator
service_exe=$KORVEX_ROOT/build/windows/service/KorvexService.exe
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_run() { bash "$KORVEX_ROOT/cmake/wine-run.sh" "$prefix" "$@"; }
service_state() { wine_run sc query KorService 2>/dev/null | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
# Removing a service that is not there shows an error box even with /SILENT, so look first.
remove_service() {
  [ -n "$(service_state)" ] || return 0
  wine_run net stop KorService >/dev/null 2>&1 || true
  wine_run "$service_exe" /UNINSTALL /SILENT
}

demo_cleanup() {
  [ -f "$prefix/.korvex-ready" ] && { remove_service >/dev/null 2>&1 || true; }
  bash tools/simulator/run.sh stop "$sim_dir" >/dev/null 2>&1 || true
  # Only this prefix's server and this script's display: other prefixes may be in use.
  wineserver -k >/dev/null 2>&1 || true
  kill "$korvex_xvfb_pid" >/dev/null 2>&1 || true
}
trap demo_cleanup EXIT

echo "== start the local address service"
KORVEX_SIM=$KORVEX_ROOT/build/native/tools/simulator/korvex-sim \
  bash tools/simulator/run.sh start "$sim_dir" >/dev/null
http_port=$(sed -n 's/^http=//p' "$sim_dir/ports")
echo "korvex-sim listens for HTTP on 127.0.0.1:$http_port"

echo "== store the settings in the Wine prefix (HKLM\\Software\\Korvex, 32-bit view)"
wine_run cmd /c exit 0 >/dev/null  # makes the prefix on first use
key='HKLM\Software\Korvex'
reg_add() { wine_run reg add "$key" /reg:32 /v "$1" /t "$2" /d "$3" /f >/dev/null; }
reg_add Benutzername REG_SZ korvex
# The password "geheim" as the programs store it (Verschluesseln; pinned by password_test), so
# that no second copy of the encoding lives here.
reg_add Passwort REG_SZ 737174717579
reg_add Hostname REG_SZ haus.korvex.test
reg_add UpdateIntervall REG_DWORD 1
reg_add Updateart REG_SZ HTTP
reg_add Einstellungen REG_SZ Ja
reg_add Serveradresse REG_SZ "127.0.0.1:$http_port"
wine_run reg query "$key" /reg:32

echo "== install and start the service"
for dir in windows windows/system32; do rm -f "$prefix/drive_c/$dir/Korvex.log"; done
remove_service  # left over from an interrupted run
wine_run "$service_exe" /INSTALL /SILENT
# Wine's sc has no "qc"; the service control manager keeps the registration here.
wine_run reg query 'HKLM\System\CurrentControlSet\Services\KorService' | grep -E 'DisplayName|ImagePath|ObjectName|Start|Type'
# Wine's net returns while the service is still start pending; its state tells when it runs.
wine_run net start KorService >/dev/null 2>&1 || true
for _ in $(seq 300); do [ "$(service_state)" = RUNNING ] && break; sleep 0.1; done
[ "$(service_state)" = RUNNING ] || { echo "KorService did not start" >&2; exit 1; }
echo "KorService runs since $(date +%T); its first update comes one minute after the start"

# Wine starts services in the Windows directory; Windows itself in system32.
log=""
for _ in $(seq 1500); do
  for dir in windows windows/system32; do
    [ -s "$prefix/drive_c/$dir/Korvex.log" ] && log=$prefix/drive_c/$dir/Korvex.log
  done
  [ -n "$log" ] && break
  sleep 0.1
done
[ -n "$log" ] || { echo "no Korvex.log within 150 s" >&2; exit 1; }

echo "== Korvex.log (${log#$prefix/drive_c/})"
iconv -f WINDOWS-1252 -t UTF-8 "$log" | tr -d '\r'
echo "== what the address service recorded"
python3 - "$sim_dir/requests.log" <<'EOF'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    r = json.loads(line)
    params = {k[6:]: v for k, v in r.items() if k.startswith("param.")}
    print(f'{r["remote"]} {r["method"]} {r["path"]} {params or ""} -> {r["status"]} {r["answer"]!r}')
EOF
echo "host table:"
cat "$sim_dir/state"

echo "== stop and remove the service"
remove_service
[ -z "$(service_state)" ] && echo "KorService removed"
