#!/bin/bash
# The installer tests: builds the packages of this version and of the next higher one (for the
# upgrade), then runs each test in its own Wine prefix and prints the packages' sizes and the
# time each test took. Expects the Windows build (korvex-inspect.exe), the native korvex-sim and
# a display (scripts/xvfb.sh). Exits non-zero when a test fails.
set -euo pipefail
export KORVEX_ROOT=${KORVEX_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$KORVEX_ROOT"
version=$(sed -n 's/^project(Korvex VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
next_version=${version%.*}.$(( ${version##*.} + 1 ))

start=$SECONDS
bash scripts/package.sh >/dev/null
KORVEX_VERSION=$next_version bash scripts/package.sh >/dev/null
echo "packages built in $((SECONDS - start)) s:"
for file in dist/Korvex-$version-x64.msi dist/KorvexSetup-$version.exe; do
  printf '  %-28s %7d KiB\n' "$(basename "$file")" $(( ($(stat -c %s "$file") + 1023) / 1024 ))
done

status=0
for test in msi_test menu_service_test setup_test signing_test; do
  start=$SECONDS
  bash "tests/installer/$test.sh" || status=1
  echo "($test: $((SECONDS - start)) s)"
done
exit $status
