#!/usr/bin/env bash
# Builds the installer and runs it under Wine, then shows its exit code and what it logged.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh"
ARCH=i686 BUILD_DIR=$build "$root/scripts/build.sh" --target installer
run_build=$build
if ! "$root/tests/harness/can_run_32bit.sh"; then
  echo "this machine cannot run 32-bit programs: running the x86-64 build of the same sources"
  run_build="$build-x64"
  ARCH=x86_64 BUILD_DIR=$run_build "$root/scripts/build.sh" --target installer
fi
exe="$run_build/installer/main/Clipmint_installer.exe"

"$root/tests/harness/session.sh" start "$run_build"
trap '"$root/tests/harness/session.sh" stop "$run_build"' EXIT
# shellcheck disable=SC1090
. "$root/tests/harness/wine_env.sh" "$run_build"

log_dir=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local 2>/dev/null | head -n 1)/Temp
log="$log_dir/Clipmint_installer_log.txt"
rm -f "$log"

echo "running $(basename "$exe") ($(stat -c %s "$build/installer/main/Clipmint_installer.exe") bytes as shipped)"
status=0
INSTALLER_BUILD_DIR=$run_build timeout 120 "$root/tests/harness/wine_run.sh" "$exe" || status=$?
echo "exit code: $status"
echo "log ($log):"
cat "$log" 2>/dev/null || echo "(no log file)"
exit $status
