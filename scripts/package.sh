#!/bin/bash
# Builds the release files in dist/ from the sources:
#   dist/Korvex-<version>-x64.msi    the Windows Installer package (wixl);
#   dist/KorvexSetup-<version>.exe   the German setup program that installs it (makensis).
# The version is the project's (CMakeLists.txt); KORVEX_VERSION=MAJOR.MINOR.PATCH builds the same
# sources under another one. With KORVEX_SIGN_PFX (a PKCS#12 code-signing certificate) and
# KORVEX_SIGN_PASSWORD, both programs, the MSI and the setup program are signed with osslsigncode,
# with an RFC 3161 timestamp from KORVEX_SIGN_TIMESTAMP_URL where one is given. KORVEX_DIST
# writes the files to another folder than dist/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh

project_version=$(sed -n 's/^project(Korvex VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
version=${KORVEX_VERSION:-$project_version}
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "KORVEX_VERSION must be MAJOR.MINOR.PATCH: '$version'" >&2; exit 1; }
build=$root/build/package-$version
stage=$build/stage
dist=${KORVEX_DIST:-$root/dist}
mkdir -p "$stage" "$dist"
msi=$dist/Korvex-$version-x64.msi
setup=$dist/KorvexSetup-$version.exe

echo "== programs, version $version"
cmake -S "$root" -B "$build" -G Ninja --toolchain "$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORVEX_TESTS=OFF -DKORVEX_VERSION="$version" >/dev/null
cmake --build "$build" -j "$(nproc)" --target Korvex KorvexService
cp "$build/client/Korvex.exe" "$build/service/KorvexService.exe" "$stage/"

signing=0
if [ -n "${KORVEX_SIGN_PFX:-}" ]; then
  [ -f "$KORVEX_SIGN_PFX" ] || { echo "KORVEX_SIGN_PFX: no such file: $KORVEX_SIGN_PFX" >&2; exit 1; }
  signing=1
fi
# Signs in place (osslsigncode writes a new file).
sign() {
  local file=$1 description=$2
  local args=(-pkcs12 "$KORVEX_SIGN_PFX" -h sha256 -n "$description")
  [ -n "${KORVEX_SIGN_PASSWORD:-}" ] && args+=(-readpass "$password_file")
  [ -n "${KORVEX_SIGN_TIMESTAMP_URL:-}" ] && args+=(-ts "$KORVEX_SIGN_TIMESTAMP_URL")
  rm -f "$file.signed"
  osslsigncode sign "${args[@]}" -in "$file" -out "$file.signed" >/dev/null
  mv "$file.signed" "$file"
  echo "signed $(basename "$file")"
}
# The password goes through a file of this user's, not the command line that others can see.
password_file=""
if [ $signing = 1 ] && [ -n "${KORVEX_SIGN_PASSWORD:-}" ]; then
  password_file=$(umask 077; mktemp)
  trap 'rm -f "$password_file"' EXIT
  printf '%s' "$KORVEX_SIGN_PASSWORD" >"$password_file"
fi
if [ $signing = 1 ]; then
  sign "$stage/Korvex.exe" "Korvex"
  sign "$stage/KorvexService.exe" "Korvex"
fi

echo "== $(basename "$msi")"
# The size the Apps entry shows, in KiB.
size_kib=$(( ($(stat -c %s "$stage/Korvex.exe") + $(stat -c %s "$stage/KorvexService.exe") + 1023) / 1024 ))
# One product code per version, derived from the upgrade code: a package of the same version
# built again is the same product, so that installing it never adds a second Apps entry.
upgrade_code=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' packaging/Korvex.wxs)
product_code=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), "Korvex " + sys.argv[2])).upper())' \
  "$upgrade_code" "$version")
# The toast identity of the installed client, as its notification centre works it out.
cmake --preset native >/dev/null
cmake --build --preset native --target korvex-toast-identity >/dev/null
toast_identity=$(build/native/packaging/korvex-toast-identity 'C:\Program Files\Korvex\Korvex.exe')
rm -f "$msi"
# wixl drops what it does not know with only a warning: make warnings fatal. It takes the
# sources' paths relative to the working directory only.
G_DEBUG=fatal-warnings wixl -a x64 -o "$msi" \
  -D Version="$version" -D ProductCode="$product_code" -D Size="$size_kib" \
  -D ClientExe="${stage#$root/}/Korvex.exe" -D ServiceExe="${stage#$root/}/KorvexService.exe" \
  -D Icon=client/win32/res/Korvex.ico \
  packaging/Korvex.wxs
# What wixl has no element for, added with msibuild:
# - the Start-menu entry carries the toast identity from the start (MsiShortcutProperty, Windows
#   Installer 5), so that the client never has to give it one;
# - a Registry row named "-" is a key removed on uninstall only: the notification centre's
#   registration of this installation's toast identity, in the hive of the user who uninstalls;
#   not in an upgrade, which keeps the user's choices there.
toast_key="SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Notifications\\Settings\\$toast_identity"
msibuild "$msi" \
  -q "CREATE TABLE \`MsiShortcutProperty\` (\`MsiShortcutProperty\` CHAR(72) NOT NULL, \`Shortcut_\` CHAR(72) NOT NULL, \`PropertyKey\` CHAR(0) NOT NULL, \`PropVariantValue\` CHAR(0) NOT NULL PRIMARY KEY \`MsiShortcutProperty\`)" \
  -q "INSERT INTO \`MsiShortcutProperty\` (\`MsiShortcutProperty\`, \`Shortcut_\`, \`PropertyKey\`, \`PropVariantValue\`) VALUES ('ToastIdentity', 'KorvexStartMenu', '{9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}, 5', '$toast_identity')" \
  -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`) VALUES ('ToastIdentity', 1, '$toast_key', '-', 'KorvexExe')" \
  -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES ('RemoveRegistryValues', 'NOT UPGRADINGPRODUCTCODE', 2600)"
[ $signing = 1 ] && sign "$msi" "Korvex $version"

echo "== $(basename "$setup")"
rm -f "$setup"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSIZE_KIB="$size_kib" -DMSI="$msi" \
  -DICON="$root/client/win32/res/Korvex.ico" -DOUTFILE="$setup" packaging/KorvexSetup.nsi
[ $signing = 1 ] && sign "$setup" "Korvex $version"

[ $signing = 1 ] || echo "note: KORVEX_SIGN_PFX is not set; the programs and packages are not signed"
ls -l "$msi" "$setup" | awk '{ print $5, $NF }'
