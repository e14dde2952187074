#!/usr/bin/env bash
# Launch to first paint: the installer against a bare Win32 window, both under the same Wine
# session in one run, each started RUNS times (default 5), medians and their ratio printed.
# Not a test; BUILD_DIR chooses the build folder (default build-x64/ where 32-bit programs
# cannot run, else build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${BUILD_DIR:-}" ]; then
  if "$root/tests/harness/can_run_32bit.sh"; then BUILD_DIR=$root/build; else BUILD_DIR=$root/build-x64; fi
fi
build=$BUILD_DIR
runs=${RUNS:-5}
arch=i686
[ "$(cat "$build/wine-arch" 2>/dev/null)" = win64 ] && arch=x86_64
ARCH=$arch BUILD_DIR=$build "$root/scripts/build.sh" --target installer --target bare_window \
  --target first_paint >/dev/null
"$root/tests/harness/session.sh" start "$build"
windows_path() { echo "Z:$1" | tr / '\\'; }
measure() {
  INSTALLER_BUILD_DIR=$build "$root/tests/harness/wine_run.sh" "$build/tools/first_paint.exe" \
    "$(windows_path "$1")" "$runs"
}
# The installer runs from a copy of its own, as a download would.
scratch=$(mktemp -d "$build/bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cp "$build/installer/main/$(cat "$build/installer-name")" "$scratch/Clipmint_installer.exe"
# A first start warms Wine's caches for both.
measure "$build/tools/bare_window.exe" >/dev/null 2>&1 || true
echo "bare Win32 window:"
bare=$(measure "$build/tools/bare_window.exe")
echo "$bare"
echo "installer:"
installer=$(measure "$scratch/Clipmint_installer.exe")
echo "$installer"
b=$(echo "$bare" | sed -n 's/^median: \([0-9]*\) ms.*/\1/p')
i=$(echo "$installer" | sed -n 's/^median: \([0-9]*\) ms.*/\1/p')
awk -v b="$b" -v i="$i" 'BEGIN { printf "installer/bare: %.2fx (goal: at most 1.5x)\n", i / b }'
