#!/bin/bash
# Runs one Windows program under the build's own Wine prefix: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made on first use (without Mono and Gecko), and a persistent wineserver keeps
# later starts fast.
set -euo pipefail
prefix=$(realpath -m "$1")
shift

export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

if [ ! -f "$prefix/.korvex-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.korvex-ready" ]; then
      wineboot -i </dev/null >/dev/null 2>&1 || true
      # Without this every window close waits about two seconds under Xvfb.
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
      # One desktop window for every program, so that tests find their boxes in one place.
      wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d shell /f >/dev/null 2>&1
      wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /t REG_SZ /d 1024x768 /f >/dev/null 2>&1
      # wineboot returns before the new prefix has settled; a service registered before the
      # server has shut down once is lost. Bounded, so that a stuck helper cannot hang the run.
      timeout 120 wineserver -w || true
      touch "$prefix/.korvex-ready"
    fi
  ) 9>"$prefix.lock"
fi

# A persistent server: without it every Wine process pays about three seconds of start-up.
wineserver -p </dev/null >/dev/null 2>&1 || true

# Wine's helper processes inherit the standard handles of the program that starts them and live
# on with the server; were those handles ctest's pipe, ctest would wait for them forever. So the
# program writes to a file, which is shown afterwards.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
status=0
wine "$@" </dev/null >"$output" 2>&1 || status=$?
cat "$output"
exit $status
