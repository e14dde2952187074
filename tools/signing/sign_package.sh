#!/usr/bin/env bash
# Signs a freshly linked package in place with the publisher's certificate, and writes beside it
# (in untrusted/) the copies a verifier must refuse: unsigned, signed by each certificate that
# make_certs.sh made for that purpose, with weak digests, nested or extra signatures and bytes,
# and a content swap. trusted/ gets a copy signed through an intermediate authority.
# Usage: sign_package.sh CERT_DIR PACKAGE.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
certs=${1:?certificate folder}
package=${2:?package}
untrusted="$(dirname "$package")/untrusted"
trusted="$(dirname "$package")/trusted"
mkdir -p "$untrusted" "$trusted"
rm -f "$untrusted"/*.exe "$trusted"/*.exe

sign() {  # sign CERT IN OUT [osslsigncode options]
  local cert=$1 in=$2 out=$3
  shift 3
  osslsigncode sign -certs "$certs/$cert.crt" -key "$certs/$cert.key" -h sha256 \
    -n "Nolt Clipmint" "$@" -in "$in" -out "$out" >/dev/null
}

unsigned="$untrusted/unsigned.exe"
cp "$package" "$unsigned"
for cert in other_publisher no_codesign expired lookalike nul_name two_names sha1_leaf rsa1024 \
  stalled_revocation; do
  sign "$cert" "$unsigned" "$untrusted/$cert.exe"
done
sign under_server_ca "$unsigned" "$untrusted/under_server_ca.exe" -ac "$certs/server_ca.crt"
sign publisher "$unsigned" "$untrusted/md5_digest.exe" -h md5
sign publisher "$unsigned" "$untrusted/sha1_digest.exe" -h sha1
sign under_intermediate "$unsigned" "$trusted/under_intermediate.exe" -ac "$certs/intermediate.crt"
sign publisher "$unsigned" "$package.signed"
sign other_publisher "$package.signed" "$untrusted/nested.exe" -nest

# The attacker's own program: the same image with one byte of its code changed.
python3 - "$unsigned" "$untrusted/attacker.tmp" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[4096] ^= 1
open(sys.argv[2], "wb").write(data)
PY
sign other_publisher "$untrusted/attacker.tmp" "$untrusted/attacker_signed.tmp"
python3 "$here/craft_packages.py" "$package.signed" "$untrusted/other_publisher.exe" \
  "$untrusted/attacker_signed.tmp" "$untrusted"
rm -f "$untrusted"/*.tmp
mv -f "$package.signed" "$package"
