#!/bin/bash
# Tries the desktop client on this Linux desktop: builds Korvex.exe, starts the local address
# service, and runs the client under Wine on $DISPLAY with an empty registry, so that the setup
# dialog shows first. Log in as "anna" with the password "Gr&n öl" (or "korvex" / "geheim").
# Everything lives in build/try/ and is thrown away at the next run; the service stops with the
# client.
set -euo pipefail
export KORVEX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$KORVEX_ROOT"

[ -n "${DISPLAY:-}" ] || { echo "no DISPLAY: run this on a desktop (or start Xvfb first)" >&2; exit 1; }
bash scripts/setup.sh

cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target korvex-sim
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target Korvex install_test_ca

try=$KORVEX_ROOT/build/try
prefix=$try/wineprefix
sim_dir=$try/simulator
wine_run() { bash "$KORVEX_ROOT/cmake/wine-run.sh" "$prefix" "$@"; }

try_cleanup() {
  bash tools/simulator/run.sh stop "$sim_dir" >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
}
trap try_cleanup EXIT

try_cleanup
rm -rf "$try"
KORVEX_SIM=$KORVEX_ROOT/build/native/tools/simulator/korvex-sim \
  bash tools/simulator/run.sh start "$sim_dir" >/dev/null
https_port=$(sed -n 's/^https=//p' "$sim_dir/ports")

# The simulator's certificate is signed by a test CA, which this prefix alone trusts.
wine_run "$KORVEX_ROOT/build/windows/tests/install_test_ca.exe" "Z:$sim_dir/certs/ca.der" >/dev/null
wine_run reg add 'HKLM\Software\Korvex' /reg:32 /v Serveradresse /t REG_SZ /d "localhost:$https_port" /f >/dev/null

echo "Korvex.exe runs against the local address service on localhost:$https_port."
echo "Log in as anna / Gr&n öl (hosts heim.korvex.test, laube.korvex.test)."
echo "What the service received: $sim_dir/requests.log"
wine_run "$KORVEX_ROOT/build/windows/client/Korvex.exe" || true
