# Sourced: starts a private Xvfb for Wine's windows and stops it, and the Wine servers, on exit.
korvex_display=""
for n in $(seq 91 120); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then korvex_display=$n; break; fi
done
Xvfb ":$korvex_display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
korvex_xvfb_pid=$!
export DISPLAY=":$korvex_display"
for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X$korvex_display" ] && break
  sleep 0.1
done

korvex_cleanup() {
  for prefix in "$KORVEX_ROOT"/build/*/wineprefix; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  done
  kill "$korvex_xvfb_pid" >/dev/null 2>&1 || true
}
trap korvex_cleanup EXIT
