#!/usr/bin/env bash
# Builds the installer and a demo setup package, serves the package from a local download
# server on 127.0.0.1, and runs the whole installation under Wine: on your display when there
# is one (you click), otherwise headless under Xvfb, where a driver clicks through the run and
# saves a screenshot of each page. Set DEMO_HEADLESS=1 to force the headless run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
user_display=${DISPLAY:-}

# The build's own progress goes to a file: what a newcomer wants to read is the run's summary.
mkdir -p "$build"
build_log="$build/demo-build.log"
echo "installing what is missing and building (progress in $build_log)"
built() {  # arch, folder
  if ! ARCH=$1 BUILD_DIR=$2 "$root/scripts/build.sh" "${targets[@]}" >>"$build_log" 2>&1; then
    tail -n 30 "$build_log" >&2
    echo "the build failed; the whole output is in $build_log" >&2
    exit 1
  fi
}
: >"$build_log"
"$root/scripts/deps.sh" >>"$build_log" 2>&1
targets=(--target installer --target demo_package --target demo_driver --target trust_root)
built i686 "$build"
run_build=$build
if ! "$root/tests/harness/can_run_32bit.sh"; then
  echo "this machine cannot run 32-bit programs: running the x86-64 build of the same sources"
  run_build="$build-x64"
  built x86_64 "$run_build"
fi
installer_name=$(cat "$run_build/installer-name")
exe="$run_build/installer/main/$installer_name"
package="$run_build/tools/demo_package/Clipmint_full_setup.exe"
server_state="$run_build/demo-server"

headless=1
if [ -n "$user_display" ] && [ "${DEMO_HEADLESS:-0}" != 1 ] &&
  xdpyinfo -display "$user_display" >/dev/null 2>&1; then
  headless=0
fi

cleanup() {
  "$root/tools/demo/serve.sh" stop "$server_state" || true
  "$root/tools/fixtures/https_collector.sh" stop "$run_build" || true
  "$root/tests/harness/session.sh" stop "$run_build" || true
}
trap cleanup EXIT

# The download server and the analytics collector on the ports the build put into the skin's
# URLs (its own pair, see fixture-ports), the collector's test authority trusted by the prefix.
# shellcheck disable=SC1091
. "$run_build/fixture-ports"
{
  "$root/tools/demo/serve.sh" start "$server_state" "$DEMO_PORT"
  cp "$package" "$server_state/www/Clipmint_full_setup.exe"
  cp "$package" "$server_state/www/Clipmint_full_setup_x64.exe"
  "$root/tests/harness/session.sh" start "$run_build"
  COLLECTOR_VALID_PORT=$COLLECTOR_PORT "$root/tools/fixtures/https_collector.sh" start "$run_build" \
    "$run_build/tests/installer/analytics/trust_root.exe"
} >>"$build_log" 2>&1

# shellcheck disable=SC1090
. "$root/tests/harness/wine_env.sh" "$run_build"
local_app=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local 2>/dev/null | head -n 1)
log="$local_app/Temp/${installer_name%.exe}_log.txt"
install_dir="$WINEPREFIX/drive_c/Program Files/Nolt/Nolt Clipmint"
rm -f "$log"
rm -rf "$install_dir"
shots="$run_build/demo-screenshots"
rm -rf "$shots"

# What this run adds to the servers' records is told apart from what earlier runs left there.
marker="$run_build/demo-started"
touch "$marker"
access_lines=$(wc -l <"$server_state/access.log" 2>/dev/null || echo 0)
echo "running $(basename "$exe") ($(stat -c %s "$build/installer/main/$installer_name") bytes as shipped)"
status=0
driver_log="$run_build/demo-driver.log"
if [ "$headless" = 1 ]; then
  echo "no display to show it on: running headless, a driver clicks Install Now and Start Now"
  INSTALLER_BUILD_DIR=$run_build timeout 300 "$root/tests/harness/wine_run.sh" \
    "$run_build/tools/demo/driver/demo_driver.exe" "$(echo "Z:$exe" | tr / '\\')" \
    "$(echo "Z:$shots" | tr / '\\')" >"$driver_log" 2>&1 || status=$?
else
  echo "showing the installer on $user_display: click Install Now, then Start Now"
  "$root/tests/harness/session.sh" stop "$run_build" >>"$build_log" 2>&1
  DISPLAY=$user_display timeout 1800 "$WINE" "$exe" </dev/null >/dev/null 2>&1 || status=$?
  wineserver -w || true
fi
saved_log="$run_build/demo-installer-log.txt"
cp "$log" "$saved_log" 2>/dev/null || : >"$saved_log"

has() { grep -q -- "$1" "$saved_log" 2>/dev/null; }
events=()
while IFS= read -r request; do
  label=$(grep -o '"event_label":"[^"]*"' "$request" | head -n 1 | cut -d'"' -f4)
  [ -n "$label" ] && events+=("$label")
done < <(find "$run_build/https-collector/requests" -name "$COLLECTOR_PORT-*.txt" -newer "$marker" \
  -printf '%T@ %p\n' 2>/dev/null | sort -n | cut -d' ' -f2-)
parameters=$(cat "$install_dir/setup_parameters.txt" 2>/dev/null || true)

echo
echo "== What happened =="
if has "download success"; then
  size=$(grep -o 'download file size:[0-9]*' "$saved_log" | tail -n 1 | cut -d: -f2)
  echo "  the package ($size bytes) came from the local download server over 8 connections"
else
  echo "  the download did not finish (see the installer's log)"
fi
if has "package verified: trusted"; then
  echo "  its signature was checked against the pinned publisher and root: trusted"
fi
if [ -n "$parameters" ]; then
  echo "  it ran elevated and silently, and installed the product"
  echo "  the product's language: $(cat "$install_dir/cache/language" 2>/dev/null || echo '(none)')"
else
  echo "  the package was not run"
fi
[ -d "$shots" ] && [ -n "$(ls "$shots" 2>/dev/null)" ] && echo "  the end page was reached and Start Now pressed"
echo "  exit code: $status"
echo "== The package's command line =="
echo "  ${parameters:-(not run)}"
echo "== Requests to the download server =="
tail -n +"$((access_lines + 1))" "$server_state/access.log" 2>/dev/null |
  grep -o '"[A-Z]* [^"]*" [0-9]*' | sort | uniq -c | sed 's/^ */  /' || true
echo "== Analytics events the collector received =="
if [ ${#events[@]} -gt 0 ]; then printf '  %s\n' "${events[@]}"; else echo "  (none)"; fi
if [ -d "$shots" ]; then
  echo "== Screenshots =="
  ls -1 "$shots"/*.png 2>/dev/null | sed 's/^/  /'
fi
echo "== Logs =="
echo "  installer: $saved_log"
echo "  build: $build_log"
[ "$headless" = 1 ] && echo "  driver: $driver_log"
exit $status
