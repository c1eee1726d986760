#!/bin/bash
# Times a change of the network to the service's update request at the local address service:
# network-bench.sh [CHANGES]. As root, in a network namespace of its own (unshare -n), it causes
# real changes (a veth interface up and down) that the netlink watch sees; elsewhere it reports
# the change through the watch's seam. The last line gives the median and how it was taken.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVEX_SANITIZE=OFF \
  -DKORVEX_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target korvex-network-bench korvex-sim >/dev/null
changes=${1:-5}
work="$root/$build/network"
mkdir -p "$work"
export KORVEX_SIM="$root/$build/tools/simulator/korvex-sim"

run() {  # run [INTERFACE]: the simulator and the benchmark, in the current network namespace
  sim="$work/simulator"
  bash "$root/tools/simulator/run.sh" start "$sim" >/dev/null
  trap 'bash "$root/tools/simulator/run.sh" stop "$work/simulator" >/dev/null' EXIT
  cd "$work"  # the service writes Korvex.log into its current directory
  if [ -n "${1:-}" ]; then
    "$root/$build/bench/korvex-network-bench" --sim-dir "$sim" --changes "$changes" --interface "$1"
  else
    "$root/$build/bench/korvex-network-bench" --sim-dir "$sim" --changes "$changes"
  fi
}
export -f run
export root build work changes

if [ "$(id -u)" = 0 ] && command -v ip >/dev/null && unshare -n true 2>/dev/null; then
  # Only this namespace's loopback and its own veth pair are touched.
  unshare -n bash -c 'set -euo pipefail
    ip link set lo up
    ip link add kvx0 type veth peer name kvx1
    run kvx0'
else
  echo "no network namespace of our own (needs root, unshare and ip): through the seam" >&2
  run
fi
