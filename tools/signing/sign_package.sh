#!/usr/bin/env bash
# Signs a freshly linked package in place with the publisher's certificate, and writes beside it
# (in untrusted/) the copies a verifier must refuse: unsigned, and signed by each certificate
# that make_certs.sh made for that purpose.
# Usage: sign_package.sh CERT_DIR PACKAGE.exe
set -euo pipefail
certs=${1:?certificate folder}
package=${2:?package}
untrusted="$(dirname "$package")/untrusted"
mkdir -p "$untrusted"
rm -f "$untrusted"/*.exe

sign() {  # sign CERT IN OUT
  osslsigncode sign -certs "$certs/$1.crt" -key "$certs/$1.key" -h sha256 -n "Nolt Clipmint" \
    -in "$2" -out "$3" >/dev/null
}

cp "$package" "$untrusted/unsigned.exe"
for cert in other_publisher no_codesign expired lookalike; do
  sign "$cert" "$untrusted/unsigned.exe" "$untrusted/$cert.exe"
done
sign publisher "$untrusted/unsigned.exe" "$package.signed"
mv -f "$package.signed" "$package"
