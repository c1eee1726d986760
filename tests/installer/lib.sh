# Sourced by the installer tests: fresh Wine prefixes copied from one template, the Wine runner,
# checks that count failures, and readers for what an installation leaves in a prefix.
# Expects KORVEX_ROOT, and DISPLAY from scripts/xvfb.sh.
set -euo pipefail

installer_work=$KORVEX_ROOT/build/installer
inspect_exe=$KORVEX_ROOT/build/windows/tests/korvex-inspect.exe
dist=${KORVEX_DIST:-$KORVEX_ROOT/dist}
version=$(sed -n 's/^project(Korvex VERSION \([0-9.]*\) .*/\1/p' "$KORVEX_ROOT/CMakeLists.txt")
# The higher version the upgrade goes to.
next_version=${version%.*}.$(( ${version##*.} + 1 ))
failures=0

export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A new prefix of the test's own, copied from a template made once (wineboot, then wineserver -w,
# which the service installs need).
new_prefix() {
  local template=$installer_work/template
  mkdir -p "$installer_work"
  WINEPREFIX=$template bash "$KORVEX_ROOT/cmake/wine-run.sh" "$template" cmd /c exit 0 >/dev/null
  WINEPREFIX=$template wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$template wineserver -w >/dev/null 2>&1 || true
  prefix=$installer_work/$1
  [ -d "$prefix" ] && { WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"; }
  cp -a "$template" "$prefix"
  export WINEPREFIX=$prefix
  program_dir="$prefix/drive_c/Program Files/Korvex"
}

wine_run() { bash "$KORVEX_ROOT/cmake/wine-run.sh" "$prefix" "$@"; }
inspect() { wine_run "$inspect_exe" "$@" | tr -d '\r'; }

# Runs msiexec; its exit code (cut to 8 bits by Wine) goes to $msi_status.
msiexec_run() {
  msi_status=0
  wine_run msiexec "$@" >/dev/null 2>&1 || msi_status=$?
}

pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION COMMAND...
  local description=$1
  shift
  if "$@"; then pass "$description"; else fail "$description"; fi
}
expect_eq() {  # expect_eq DESCRIPTION ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: '$2', expected '$3'"; fi
}
# Waits for COMMAND to succeed, at most SECONDS.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.2
  done
}
finish() {
  if [ $failures -eq 0 ]; then echo "== $(basename "$0"): all passed"; else echo "== $(basename "$0"): $failures failed"; fi
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  [ $failures -eq 0 ]
}

# The service as the service control manager keeps it.
service_key='HKLM\System\CurrentControlSet\Services\KorService'
service_value() {
  wine_run reg query "$service_key" /v "$1" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
service_registered() { wine_run reg query "$service_key" >/dev/null 2>&1; }
service_state() {
  wine_run sc query KorService 2>/dev/null | tr -d '\r' | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'
}
service_running() { [ "$(service_state)" = RUNNING ]; }
service_stopped() { local state; state=$(service_state); [ "$state" = STOPPED ] || [ -z "$state" ]; }
service_gone() { ! service_registered; }

# The registration that "KorvexService.exe /INSTALL" makes, value by value. Wine writes the image
# path without the quotes that Windows puts around a path with a blank.
expect_service_registration() {
  local image
  expect_eq "service: display name" "$(service_value DisplayName)" "KorvexService"
  expect_eq "service: own process, interactive" "$(service_value Type)" "0x110"
  expect_eq "service: automatic start" "$(service_value Start)" "0x2"
  expect_eq "service: normal error control" "$(service_value ErrorControl)" "0x1"
  expect_eq "service: LocalSystem" "$(service_value ObjectName)" "LocalSystem"
  expect_eq "service: no dependencies" "$(service_value DependOnService)" ""
  expect_eq "service: no load order group" "$(service_value Group)" ""
  image=$(service_value ImagePath)
  image=${image#\"}
  image=${image%\"}
  expect_eq "service: the installed program, no arguments" "$image" 'C:\Program Files\Korvex\KorvexService.exe'
}

# Uninstall entries whose DisplayName is Korvex, one key name a line.
apps_entries() {
  wine_run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ { key = $0 } /^ *DisplayName *REG_SZ *Korvex$/ { print key }'
}
apps_value() {  # apps_value KEY NAME
  wine_run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# Every Start-menu entry of Korvex, of all users and of this one.
start_menu_links() {
  find "$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu" \
    "$prefix"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu" \
    -iname '*korvex*' 2>/dev/null || true
}
windows_path() { echo "C:${1#$prefix/drive_c}" | tr / '\\'; }

settings_dump() { inspect settings; }
settings_empty() { local dump; dump=$(settings_dump); [ "$dump" = "no key" ] || [ -z "$dump" ]; }

client_running() { inspect window TClient >/dev/null; }
start_client() { inspect start 'C:\Program Files\Korvex' 'C:\Program Files\Korvex\Korvex.exe' >/dev/null; }

# The settings as the setup dialog writes them, interval one minute, against the simulator at
# 127.0.0.1:PORT over HTTP. The password "geheim" in its stored encoding (pinned by password_test).
write_settings() {
  local key='HKLM\Software\Korvex'
  reg_add() { wine_run reg add "$key" /reg:32 /v "$1" /t "$2" /d "$3" /f >/dev/null; }
  reg_add Benutzername REG_SZ korvex
  reg_add Passwort REG_SZ 737174717579
  reg_add Hostname REG_SZ haus.korvex.test
  reg_add Einstellungen REG_SZ Ja
  reg_add Updateart REG_SZ HTTP
  reg_add UpdateIntervall REG_DWORD 1
  reg_add Serveradresse REG_SZ "127.0.0.1:$1"
}

# Where a service's Korvex.log lands: Wine starts services in the Windows directory.
service_log() {
  local dir
  for dir in windows windows/system32; do
    [ -s "$prefix/drive_c/$dir/Korvex.log" ] && { echo "$prefix/drive_c/$dir/Korvex.log"; return 0; }
  done
  return 1
}
log_says_success() { local log; log=$(service_log) && grep -q 'IP-Update erfolgreich' "$log"; }
seconds() { printf '%d.%d' $(($1 / 1000)) $((($1 % 1000) / 100)); }
