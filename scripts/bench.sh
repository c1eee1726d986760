#!/bin/bash
# Builds the benchmark without sanitizers, starts the local address service and times UpdateIP
# cycles against libcurl: bench.sh [CYCLES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVEX_SANITIZE=OFF \
  -DKORVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target korvex-bench korvex-sim
sim="$root/$build/simulator"
KORVEX_SIM="$root/$build/tools/simulator/korvex-sim" bash tools/simulator/run.sh start "$sim" >/dev/null
trap 'bash tools/simulator/run.sh stop "$sim"' EXIT
"$build/bench/korvex-bench" --sim-dir "$sim" --cycles "${1:-300}"
