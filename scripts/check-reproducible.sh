#!/usr/bin/env bash
# Builds the shipped installer twice, from two copies of the committed tree in folders of
# different names and lengths, and compares the two executables byte for byte.
# Exits 0 when they are identical. KEEP=1 leaves the folders for inspection.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"

work=$(mktemp -d)
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
exes=()
for name in a second-build-folder; do
  src="$work/$name/src"
  mkdir -p "$src"
  git -C "$root" archive HEAD | tar -x -C "$src"
  # Pinned as a release is: a development build embeds its own folder's throwaway signing
  # authority and the demo package's digest, which differ from folder to folder by design.
  cmake --preset dev -S "$src" -B "$work/$name/out" -DINSTALLER_BUILD_TESTS=OFF \
    -DINSTALLER_PUBLISHER_NAME="Reproducibility Check Publisher" \
    -DINSTALLER_PUBLISHER_ROOT_SHA256="$(printf '0%.0s' $(seq 64))" \
    -DINSTALLER_URL_DOWN_SHA256= -DINSTALLER_URL_DOWN_X64_SHA256= >/dev/null
  cmake --build "$work/$name/out" -j2 --target installer >/dev/null
  exes+=("$work/$name/out/installer/main/$(cat "$work/$name/out/installer-name")")
done

size=$(stat -c %s "${exes[0]}")
if cmp -s "${exes[0]}" "${exes[1]}"; then
  echo "reproducible: two builds in different folders gave identical installers ($size bytes," \
       "sha256 $(sha256sum "${exes[0]}" | cut -c1-16)...)"
else
  echo "NOT reproducible: the two installers differ in $(cmp -l "${exes[0]}" "${exes[1]}" | wc -l) bytes" >&2
  exit 1
fi
