#!/bin/bash
# Starts or stops the local address service for scripts and ctest fixtures:
#   run.sh start DIR [KORVEX-SIM-OPTIONS...]   start it on free ports; returns once it listens
#   run.sh stop DIR                            stop the one started in DIR
# DIR receives certs/ (test CA and localhost certificate), ports ("http=N", "https=N"),
# requests.log (one JSON line per request), state (host table), files/ (software updates),
# update-fault (absent; a test creates it to make /update.php fail), files/changing-ip (absent;
# while a test keeps it, every /ip.php answers another address),
# sim.out and pid. The program is $KORVEX_SIM, else the native build's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
command=${1:?usage: run.sh start|stop DIR}
dir=${2:?usage: run.sh start|stop DIR}
shift 2

stop() {
  [ -f "$dir/pid" ] || return 0
  local pid
  pid=$(cat "$dir/pid")
  rm -f "$dir/pid"
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.05
  done
  echo "korvex-sim $pid did not stop" >&2
  return 1
}

case $command in
  start)
    sim=${KORVEX_SIM:-$root/build/native/tools/simulator/korvex-sim}
    [ -x "$sim" ] || { echo "no korvex-sim at $sim" >&2; exit 1; }
    mkdir -p "$dir/files/updates"
    stop
    bash "$root/tools/make-test-certs.sh" "$dir/certs"
    [ -f "$dir/files/softwareupdate.txt" ] || : > "$dir/files/softwareupdate.txt"
    rm -f "$dir/ports" "$dir/requests.log" "$dir/state" "$dir/update-fault" "$dir/files/changing-ip"
    # Its own session and no inherited pipes, so that the caller (ctest) does not wait for it.
    setsid "$sim" --accounts "$here/accounts.txt" --cert "$dir/certs/localhost.pem" \
      --key "$dir/certs/localhost.key" --port-file "$dir/ports" --log "$dir/requests.log" \
      --state "$dir/state" --files "$dir/files" \
      --update-fault "$dir/update-fault" "$@" </dev/null >"$dir/sim.out" 2>&1 &
    echo $! > "$dir/pid"
    for _ in $(seq 200); do
      [ -f "$dir/ports" ] && { cat "$dir/ports"; exit 0; }
      kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
      sleep 0.05
    done
    cat "$dir/sim.out" >&2
    echo "korvex-sim did not start" >&2
    stop || true
    exit 1
    ;;
  stop) stop ;;
  *) echo "usage: run.sh start|stop DIR" >&2; exit 2 ;;
esac
