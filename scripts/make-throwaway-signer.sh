#!/usr/bin/env bash
# Makes a throwaway self-signed code-signing certificate and key in FOLDER (once), so every test
# run signs the installer and the signing step cannot rot. Never use it for a release.
set -euo pipefail
folder=${1:?folder}
mkdir -p "$folder"
[ -f "$folder/signer.pem" ] && [ -f "$folder/signer.key" ] && exit 0
openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Throwaway Test Signer" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=critical,digitalSignature" \
  -addext "basicConstraints=critical,CA:FALSE" \
  -keyout "$folder/signer.key" -out "$folder/signer.pem" 2>/dev/null
