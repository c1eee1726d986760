#!/bin/bash
# A signed package build with a throwaway code-signing certificate made here: both programs (as
# the MSI carries them), the MSI and the setup program carry signatures that verify.
export KORVEX_ROOT=${KORVEX_ROOT:-$(cd "$(dirname "$0")/../.." && pwd)}
set -euo pipefail
work=$KORVEX_ROOT/build/installer/signing
rm -rf "$work"
mkdir -p "$work/dist" "$work/extracted"
failures=0

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Korvex Test Code Signing" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:wegwerf -out "$work/sign.pfx"

KORVEX_DIST=$work/dist KORVEX_SIGN_PFX=$work/sign.pfx KORVEX_SIGN_PASSWORD=wegwerf \
  bash "$KORVEX_ROOT/scripts/package.sh" >"$work/package.log" 2>&1 || { cat "$work/package.log"; exit 1; }
grep -q "not signed" "$work/package.log" && { echo "FAIL the signed build says it is unsigned"; failures=$((failures + 1)); }

msi=$(ls "$work"/dist/Korvex-*-x64.msi)
(cd "$work/extracted" && msiextract "$msi" >/dev/null)
for file in "$work"/extracted/Korvex/Korvex.exe "$work"/extracted/Korvex/KorvexService.exe \
  "$msi" "$work"/dist/KorvexSetup-*.exe; do
  if osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >"$work/verify.log" 2>&1; then
    echo "ok   signature verifies: $(basename "$file")"
  else
    echo "FAIL signature of $(basename "$file")"
    cat "$work/verify.log"
    failures=$((failures + 1))
  fi
done

# The signed build is the same version built again: the same product, so no second Apps entry.
product_code() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }
if [ "$(product_code "$msi")" = "$(product_code "$KORVEX_ROOT/dist/$(basename "$msi")")" ]; then
  echo "ok   a package of the same version built again has the same product code"
else
  echo "FAIL the product code differs between two builds of one version"
  failures=$((failures + 1))
fi

if [ $failures -eq 0 ]; then echo "== signing_test.sh: all passed"; else echo "== signing_test.sh: $failures failed"; fi
[ $failures -eq 0 ]
