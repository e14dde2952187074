#!/usr/bin/env bash
# Checks the shipped installer image as a release needs it: no folder of the machine that built
# it inside (reproducible, and no build details given away), no link time, Windows 7 as the
# subsystem floor, terminal-server aware, ASLR and DEP on. Usage: check_image.sh EXE SOURCE_DIR
set -euo pipefail
exe=${1:?installer executable}
source_dir=${2:?source folder}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
status=0
fail() { echo "$*"; status=1; }

build_dir=$(cd "$(dirname "$exe")/../.." && pwd)
# Paths may be stored narrow or as UTF-16.
text=$(strings -a "$exe"; strings -a -el "$exe")
for folder in "$source_dir" "$build_dir"; do
  if grep -qF "$folder" <<<"$text"; then
    fail "the image holds the build machine's folder $folder"
  fi
done

headers=$("$objdump" -p "$exe")
field() { awk -v key="$1" '$1 == key { print $2; exit }' <<<"$headers"; }
[ "$(field MajorSubsystemVersion)" = 6 ] && [ "$(field MinorSubsystemVersion)" = 1 ] ||
  fail "subsystem version is $(field MajorSubsystemVersion).$(field MinorSubsystemVersion), not 6.1"
grep -q "Time/Date.*1970" <<<"$headers" || fail "the image carries a link time: $(grep Time/Date <<<"$headers")"
characteristics=$((16#$(field DllCharacteristics)))
((characteristics & 0x8000)) || fail "not terminal-server aware"
((characteristics & 0x0100)) || fail "DEP (NX compatible) is off"
((characteristics & 0x0040)) || fail "ASLR (dynamic base) is off"
[ $status = 0 ] && echo "image checks passed: $exe"
exit $status
