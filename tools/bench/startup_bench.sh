#!/usr/bin/env bash
# Launch to first paint: the installer against a bare Win32 window, both under the same Wine
# session in one run, taking turns RUNS times (default 15), medians and their ratio printed. A bare
# layered window of the installer's size takes its turns too: what the system charges any window
# shown the way the installer's must be, before the installer does any work of its own.
# Usage: startup_bench.sh [OTHER_INSTALLER.exe ...]  (other builds measured in the same turns)
# Not a test; BUILD_DIR chooses the build folder (default build-x64/ where 32-bit programs
# cannot run, else build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
if [ -z "${BUILD_DIR:-}" ]; then
  if "$root/tests/harness/can_run_32bit.sh"; then BUILD_DIR=$root/build; else BUILD_DIR=$root/build-x64; fi
fi
build=$BUILD_DIR
runs=${RUNS:-15}
arch=i686
[ "$(cat "$build/wine-arch" 2>/dev/null)" = win64 ] && arch=x86_64
ARCH=$arch BUILD_DIR=$build "$root/scripts/build.sh" --target installer --target bare_window \
  --target bare_layered_window --target first_paint >/dev/null
build=$(cd "$build" && pwd)  # Wine takes only an absolute prefix path
"$root/tests/harness/session.sh" start "$build"
# Under a virtual machine a wake-up across processors costs about a tenth of a millisecond, and
# every call a program makes into Wine's server or the display is one: which processor the
# scheduler happened to give a program decided whether a bare window started in 50 or 90 ms,
# and hit the installer, which makes many more of those calls, harder still. For the run, the
# session (display, Wine's server, its services) and the programs share one processor, so each
# start pays the same; afterwards the session gets every processor back.
# shellcheck disable=SC1091
. "$build/wine-session.env"
# shellcheck disable=SC1091
. "$root/tests/harness/wine_env.sh" "$build"
# shellcheck disable=SC1091
. "$root/tests/harness/desktop.sh" "$build"
session_processes() {
  echo "$XVFB_PID"
  local pid
  for pid in $(pgrep -f 'wineserver|\.exe' 2>/dev/null); do in_prefix "$pid" && echo "$pid"; done
}
pin_session() {  # processor list
  local pid
  for pid in $(session_processes); do taskset -a -p -c "$1" "$pid" >/dev/null 2>&1 || true; done
}
all_processors="0-$(($(nproc --all) - 1))"
windows_path() { echo "Z:$1" | tr / '\\'; }
# The installer runs from a copy of its own, as a download would.
scratch=$(mktemp -d "$build/bench-XXXXXX")
trap 'rm -rf "$scratch"; pin_session "$all_processors"' EXIT
pin_session 0
cp "$build/installer/main/$(cat "$build/installer-name")" "$scratch/Clipmint_installer.exe"
measure() {  # runs, programs...
  local runs=$1 args=()
  shift
  for program in "$@"; do args+=("$(windows_path "$program")"); done
  INSTALLER_BUILD_DIR=$build taskset -c 0 "$root/tests/harness/wine_run.sh" \
    "$build/tools/first_paint.exe" "$runs" "${args[@]}"
}
# Other builds of the installer named on the command line take their turns too, copied alike.
others=()
for other in "$@"; do
  mkdir -p "$scratch/other${#others[@]}"
  cp "$other" "$scratch/other${#others[@]}/Clipmint_installer.exe"
  others+=("$scratch/other${#others[@]}/Clipmint_installer.exe")
done
programs=("$build/tools/bare_window.exe" "$build/tools/bare_layered_window.exe"
  "$scratch/Clipmint_installer.exe" "${others[@]}")
# A first start of each warms Wine's caches.
measure 1 "${programs[@]}" >/dev/null 2>&1 || true
# They take turns, so the machine's other work falls on all of them alike.
result=$(measure "$runs" "${programs[@]}")
echo "$result"
mapfile -t medians < <(echo "$result" | sed -n 's/^median: \([0-9]*\) ms.*/\1/p')
# Each program's starts in turn order; the ratio within each turn is the steadier figure, since
# the machine's slower and faster moments fall on both starts of a turn alike.
mapfile -t turns < <(echo "$result" | sed -n 's/^[^ ]*\.exe: //p')
per_turn() {  # bare times, installer times: the median of their ratios, turn by turn
  awk -v b="$1" -v i="$2" 'BEGIN {
    n = split(b, bare, " "); split(i, inst, " ")
    for (k = 1; k <= n; ++k) r[k] = inst[k] / bare[k]
    for (k = 2; k <= n; ++k) for (j = k; j > 1 && r[j - 1] > r[j]; --j) { t = r[j]; r[j] = r[j - 1]; r[j - 1] = t }
    printf "%.2f", n % 2 ? r[(n + 1) / 2] : (r[n / 2] + r[n / 2 + 1]) / 2
  }'
}
awk -v b="${medians[0]}" -v l="${medians[1]}" \
  'BEGIN { printf "bare layered window: %d ms, layered/bare %.2fx\n", l, l / b }'
names=("this build" "$@")
for n in $(seq 2 $((${#medians[@]} - 1))); do
  awk -v b="${medians[0]}" -v l="${medians[1]}" -v i="${medians[$n]}" \
    -v name="${names[$((n - 2))]}" -v turn="$(per_turn "${turns[0]}" "${turns[$n]}")" \
    'BEGIN { printf "%s: bare window %d ms, installer %d ms, installer/bare %.2fx (goal: at most 1.3x), installer/layered %.2fx, installer/bare within a turn %.2fx\n", name, b, i, i / b, i / l, turn }'
done
