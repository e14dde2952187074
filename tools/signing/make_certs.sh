#!/usr/bin/env bash
# Makes a throwaway code-signing authority for the demo and the tests: a root, the publisher's
# code-signing certificate, and the certificates a package must never be trusted with (a second
# publisher under the same root, a certificate without code-signing usage, an expired one and a
# self-signed look-alike bearing the publisher's name), then those of the attack cases (a leaf
# signed with SHA-1 here, the rest by make_attack_certs.py). Existing files are kept.
# Usage: make_certs.sh OUT_DIR PUBLISHER_NAME STALL_PORT
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?output folder}
publisher=${2:?publisher name}
stall_port=${3:?port of the revocation list that never answers}
mkdir -p "$out"
cd "$out"

attack_certs() {
  if [ ! -f sha1_leaf.crt ]; then
    openssl genrsa -out sha1_leaf.key 2048 2>/dev/null
    openssl req -new -key sha1_leaf.key -subj "/CN=$publisher" -out sha1_leaf.csr
    openssl ca -batch -config ca.cnf -cert root.crt -keyfile root.key -extensions codesign \
      -md sha1 -days 3650 -in sha1_leaf.csr -out sha1_leaf.crt 2>/dev/null
  fi
  python3 "$here/make_attack_certs.py" "$out" "$publisher" "$stall_port"
}

if [ -f root.der ] && [ -f publisher.crt ] && [ -f lookalike.crt ]; then
  attack_certs
  exit 0
fi

days=3650
cat >ca.cnf <<CNF
[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = issued
serial = serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
[codesign]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[lookalike]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
CNF
rm -rf issued index.txt serial
mkdir issued
: >index.txt
echo 1000 >serial

key() { openssl genrsa -out "$1.key" 2048 2>/dev/null; }

key root
openssl req -new -x509 -key root.key -sha256 -days $days -subj "/CN=Demo Package Signing Root" \
  -config ca.cnf -extensions root -out root.crt
openssl x509 -in root.crt -outform DER -out root.der

# issue NAME COMMON_NAME EXTENSIONS [START END]
issue() {
  key "$1"
  openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr"
  local dates=(-days $days)
  [ $# -ge 5 ] && dates=(-startdate "$4" -enddate "$5")
  openssl ca -batch -config ca.cnf -cert root.crt -keyfile root.key -extensions "$3" \
    "${dates[@]}" -in "$1.csr" -out "$1.crt" 2>/dev/null
}

issue publisher "$publisher" codesign
issue other_publisher "Another Publisher" codesign
issue no_codesign "$publisher" server
issue expired "$publisher" codesign 20200101000000Z 20210101000000Z
key lookalike
openssl req -new -x509 -key lookalike.key -sha256 -days $days -subj "/CN=$publisher" \
  -config ca.cnf -extensions lookalike -out lookalike.crt
attack_certs
