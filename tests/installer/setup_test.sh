#!/bin/bash
# The setup program: /S installs with the service (the defaults), a second run of the same
# version adds no second entry, a refused downgrade shows in the exit code, and the uninstall
# from the Apps entry removes everything.
export KORVEX_ROOT=${KORVEX_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
source "$KORVEX_ROOT/tests/installer/lib.sh"

setup=$dist/KorvexSetup-$version.exe
new_prefix setup
run_setup() {
  setup_status=0
  KORVEX_SETUP_LOG="Z:$installer_work/setup-$1.log" wine_run "Z:$2" /S >/dev/null 2>&1 || setup_status=$?
}

echo "== $(basename "$setup") /S"
run_setup install "$setup"
expect_eq "setup /S succeeds" "$setup_status" 0
check "Korvex.exe installed" test -f "$program_dir/Korvex.exe"
expect_eq "one Apps entry" "$(apps_entries | wc -l)" 1
expect_eq "Apps entry: version" "$(apps_value "$(apps_entries | head -1)" DisplayVersion)" "$version"
expect_eq "one Start-menu entry" "$(start_menu_links | wc -l)" 1
expect_service_registration
check "service running (the default)" wait_for 30 service_running
check "no value in the settings key" settings_empty

echo "== the same version once more"
run_setup again "$setup"
expect_eq "setup /S succeeds again" "$setup_status" 0
expect_eq "still one Apps entry" "$(apps_entries | wc -l)" 1
expect_eq "still one Start-menu entry" "$(start_menu_links | wc -l)" 1
check "service running" wait_for 30 service_running

echo "== a failure shows in the exit code: the lower version after the higher one"
run_setup upgrade "$dist/KorvexSetup-$next_version.exe"
expect_eq "setup /S of $next_version succeeds" "$setup_status" 0
run_setup downgrade "$setup"
# Windows Installer's 1603, cut to 8 bits by Wine.
check "setup /S of $version over $next_version fails ($setup_status)" test "$setup_status" != 0
expect_eq "still one Apps entry, of $next_version" "$(apps_value "$(apps_entries | head -1)" DisplayVersion)" "$next_version"

echo "== uninstall from the Apps entry, silently"
entry=$(apps_entries | head -1)
uninstall=$(apps_value "$entry" UninstallString)
# "MsiExec.exe /X{…}" is the entry's command; /qn makes it silent.
msiexec_run /x "{${uninstall#*\{}" /qn
expect_eq "msiexec /x /qn succeeds" "$msi_status" 0
check "no service" service_gone
check "no files" test ! -e "$program_dir"
expect_eq "no Start-menu entry" "$(start_menu_links | wc -l)" 0
expect_eq "no Apps entry" "$(apps_entries | wc -l)" 0
check "settings key untouched" settings_empty
finish
