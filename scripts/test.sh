#!/bin/bash
# Sets up the machine, builds both builds and runs every test: native (with sanitizers), then
# the Windows programs and tests under Wine. Exits non-zero when anything fails.
set -euo pipefail
export KORVEX_ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$KORVEX_ROOT"

bash scripts/setup.sh
jobs=$(nproc)

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

echo "== fuzzing the response reader"
bash scripts/fuzz.sh 60

echo "== Windows build and tests under Wine"
source scripts/xvfb.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows

echo "== installer packages and their tests under Wine"
bash tests/installer/run.sh
