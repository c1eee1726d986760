#!/bin/bash
# Makes the certificates of the TLS tests and of the local address service in OUTDIR:
#   ca.pem / ca.key                 a test CA (trusted by the tests, never by the system)
#   localhost.pem / localhost.key   server certificate for "localhost" (and 127.0.0.1), by the CA
#   wrongname.pem / wrongname.key   server certificate for another name, by the CA
#   selfsigned.pem / selfsigned.key a self-signed server certificate for "localhost"
#   ca.der                          the CA in DER, for the Windows root store
# Does nothing when OUTDIR/.done exists.
set -euo pipefail
out=${1:?usage: make-test-certs.sh OUTDIR}
[ -f "$out/.done" ] && exit 0
mkdir -p "$out"
cd "$out"

days=3650
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days $days \
  -subj "/CN=Korvex Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in ca.pem -outform der -out ca.der

server_cert() {  # name subject-alt-names
  openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nkeyUsage=digitalSignature,keyEncipherment\n' "$3" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -out "$1.pem" \
    -days $days -extfile "$1.ext" 2>/dev/null
  rm -f "$1.csr" "$1.ext"
}
server_cert localhost localhost "DNS:localhost,IP:127.0.0.1"
server_cert wrongname wrong.invalid "DNS:wrong.invalid"

openssl req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days $days \
  -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost" 2>/dev/null

touch .done
