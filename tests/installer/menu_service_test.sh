#!/bin/bash
# Installed without the feature "Dienst", with the service registered afterwards as the client's
# menu "Korvex als Dienst" registers it: the uninstall removes that service too.
export KORVEX_ROOT=${KORVEX_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
source "$KORVEX_ROOT/tests/installer/lib.sh"

msi=$dist/Korvex-$version-x64.msi
new_prefix menu

echo "== silent install without the service"
msiexec_run /i "Z:$msi" /qn ADDLOCAL=Programm
expect_eq "msiexec /i ADDLOCAL=Programm succeeds" "$msi_status" 0
check "Korvex.exe installed" test -f "$program_dir/Korvex.exe"
check "KorvexService.exe installed, for the menu" test -f "$program_dir/KorvexService.exe"
check "no service registered" service_gone
expect_eq "one Start-menu entry" "$(start_menu_links | wc -l)" 1

echo "== the service registered and started as the client's menu does it"
# The menu starts the program from the client's working directory, the installation folder.
(cd "$program_dir" && wine_run KorvexService.exe /INSTALL /SILENT >/dev/null 2>&1) || true
wine_run net start KorService >/dev/null 2>&1 || true
expect_service_registration
check "service running" wait_for 30 service_running

echo "== silent uninstall"
product=$(basename "$(apps_entries | head -1 | tr '\\' /)")
msiexec_run /x "$product" /qn
expect_eq "msiexec /x /qn succeeds" "$msi_status" 0
check "the menu's service is gone" service_gone
check "no files" test ! -e "$program_dir"
expect_eq "no Apps entry" "$(apps_entries | wc -l)" 0
finish
