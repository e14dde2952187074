#!/usr/bin/env bash
# Fails when the installer's import table names a library the loader could take from the
# program's own folder: only libraries Windows always loads from the system folder may appear.
set -euo pipefail
exe=${1:?installer executable}
# The 32-bit objdump reads both PE32 and PE32+ files.
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

allowed=" advapi32.dll comdlg32.dll gdi32.dll imm32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll rpcrt4.dll shell32.dll shlwapi.dll user32.dll ws2_32.dll "

names=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | tr -d '\r')
[ -n "$names" ] || { echo "no import table found in $exe"; exit 1; }
status=0
for name in $names; do
  if [[ "$allowed" != *" $name "* ]]; then
    echo "not allowed in the import table: $name"
    status=1
  fi
done
echo "imports: $(echo $names)"
exit $status
