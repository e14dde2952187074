#!/usr/bin/env bash
# Builds the installer and runs it under Wine, then shows its exit code and what it logged.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export BUILD_DIR=$build

"$root/scripts/deps.sh"
"$root/scripts/build.sh" --target installer

"$root/tests/harness/session.sh" start "$build"
trap '"$root/tests/harness/session.sh" stop "$build"' EXIT
# shellcheck disable=SC1090
. "$build/wine-session.env"
export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all

exe="$build/installer/main/Clipmint_installer.exe"
log_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local 2>/dev/null | head -n 1)/Temp
log="$log_dir/Clipmint_installer_log.txt"
rm -f "$log"

echo "running $(basename "$exe") ($(stat -c %s "$exe") bytes)"
status=0
timeout 120 wine "$exe" || status=$?
echo "exit code: $status"
echo "log ($log):"
cat "$log" 2>/dev/null || echo "(no log file)"
exit $status
