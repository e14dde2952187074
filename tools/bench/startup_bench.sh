#!/usr/bin/env bash
# Launch to first paint: the installer against a bare Win32 window, both under the same Wine
# session in one run, taking turns RUNS times (default 9), medians and their ratio printed.
# Usage: startup_bench.sh [OTHER_INSTALLER.exe ...]  (other builds measured in the same turns)
# Not a test; BUILD_DIR chooses the build folder (default build-x64/ where 32-bit programs
# cannot run, else build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${BUILD_DIR:-}" ]; then
  if "$root/tests/harness/can_run_32bit.sh"; then BUILD_DIR=$root/build; else BUILD_DIR=$root/build-x64; fi
fi
build=$BUILD_DIR
runs=${RUNS:-9}
arch=i686
[ "$(cat "$build/wine-arch" 2>/dev/null)" = win64 ] && arch=x86_64
ARCH=$arch BUILD_DIR=$build "$root/scripts/build.sh" --target installer --target bare_window \
  --target first_paint >/dev/null
build=$(cd "$build" && pwd)  # Wine takes only an absolute prefix path
"$root/tests/harness/session.sh" start "$build"
windows_path() { echo "Z:$1" | tr / '\\'; }
# The installer runs from a copy of its own, as a download would.
scratch=$(mktemp -d "$build/bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cp "$build/installer/main/$(cat "$build/installer-name")" "$scratch/Clipmint_installer.exe"
measure() {  # runs, programs...
  local runs=$1 args=()
  shift
  for program in "$@"; do args+=("$(windows_path "$program")"); done
  INSTALLER_BUILD_DIR=$build "$root/tests/harness/wine_run.sh" "$build/tools/first_paint.exe" \
    "$runs" "${args[@]}"
}
# Other builds of the installer named on the command line take their turns too, copied alike.
others=()
for other in "$@"; do
  mkdir -p "$scratch/other${#others[@]}"
  cp "$other" "$scratch/other${#others[@]}/Clipmint_installer.exe"
  others+=("$scratch/other${#others[@]}/Clipmint_installer.exe")
done
programs=("$build/tools/bare_window.exe" "$scratch/Clipmint_installer.exe" "${others[@]}")
# A first start of each warms Wine's caches.
measure 1 "${programs[@]}" >/dev/null 2>&1 || true
# They take turns, so the machine's other work falls on all of them alike.
result=$(measure "$runs" "${programs[@]}")
echo "$result"
mapfile -t medians < <(echo "$result" | sed -n 's/^median: \([0-9]*\) ms.*/\1/p')
names=("this build" "$@")
for n in $(seq 1 $((${#medians[@]} - 1))); do
  awk -v b="${medians[0]}" -v i="${medians[$n]}" -v name="${names[$((n - 1))]}" \
    'BEGIN { printf "%s: bare window %d ms, installer %d ms, installer/bare %.2fx (goal: at most 1.3x)\n", name, b, i, i / b }'
done
