#!/usr/bin/env bash
# Builds the installer and a demo setup package, serves the package from a local download
# server on 127.0.0.1, and runs the whole installation under Wine: on your display when there
# is one (you click), otherwise headless under Xvfb, where a driver clicks through the run and
# saves a screenshot of each page. Set DEMO_HEADLESS=1 to force the headless run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
user_display=${DISPLAY:-}

"$root/scripts/deps.sh"
targets=(--target installer --target demo_package --target demo_driver --target trust_root)
ARCH=i686 BUILD_DIR=$build "$root/scripts/build.sh" "${targets[@]}"
run_build=$build
if ! "$root/tests/harness/can_run_32bit.sh"; then
  echo "this machine cannot run 32-bit programs: running the x86-64 build of the same sources"
  run_build="$build-x64"
  ARCH=x86_64 BUILD_DIR=$run_build "$root/scripts/build.sh" "${targets[@]}"
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

# The download server (the skin's default URLs name 127.0.0.1:18080) and the analytics
# collector (localhost:18443), whose test authority the Wine prefix is told to trust.
"$root/tools/demo/serve.sh" start "$server_state" 18080
cp "$package" "$server_state/www/Clipmint_full_setup.exe"
cp "$package" "$server_state/www/Clipmint_full_setup_x64.exe"
"$root/tests/harness/session.sh" start "$run_build"
COLLECTOR_VALID_PORT=18443 "$root/tools/fixtures/https_collector.sh" start "$run_build" \
  "$run_build/tests/installer/analytics/trust_root.exe"

# shellcheck disable=SC1090
. "$root/tests/harness/wine_env.sh" "$run_build"
local_app=$(ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Local 2>/dev/null | head -n 1)
log="$local_app/Temp/${installer_name%.exe}_log.txt"
install_dir="$WINEPREFIX/drive_c/Program Files/Nolt/Nolt Clipmint"
rm -f "$log"
rm -rf "$install_dir"
shots="$run_build/demo-screenshots"
rm -rf "$shots"

echo "running $(basename "$exe") ($(stat -c %s "$build/installer/main/$installer_name") bytes as shipped)"
status=0
if [ "$headless" = 1 ]; then
  echo "no display to show it on: running headless, the driver clicks through the installation"
  INSTALLER_BUILD_DIR=$run_build timeout 300 "$root/tests/harness/wine_run.sh" \
    "$run_build/tools/demo/driver/demo_driver.exe" "$(echo "Z:$exe" | tr / '\\')" \
    "$(echo "Z:$shots" | tr / '\\')" || status=$?
else
  echo "showing the installer on $user_display: click Install Now, then Start Now"
  "$root/tests/harness/session.sh" stop "$run_build"
  DISPLAY=$user_display timeout 1800 "$WINE" "$exe" </dev/null >/dev/null 2>&1 || status=$?
  wineserver -w || true
fi

echo
echo "exit code: $status"
echo "log ($log):"
cat "$log" 2>/dev/null || echo "(no log file)"
echo
echo "the package was run with: $(cat "$install_dir/setup_parameters.txt" 2>/dev/null || echo '(not run)')"
echo "language recorded for the product: $(cat "$install_dir/cache/language" 2>/dev/null || echo '(none)')"
echo "download server requests:"
grep -o '"[A-Z]* [^"]*" [0-9]*' "$server_state/access.log" 2>/dev/null | sort | uniq -c || true
echo "analytics events received:"
for request in "$run_build"/https-collector/requests/18443-*.txt; do
  [ -f "$request" ] || continue
  grep -o '"event_label":"[^"]*"' "$request" || true
done
if [ -d "$shots" ]; then
  echo "screenshots:"
  ls -1 "$shots"/*.png 2>/dev/null | sed 's/^/  /'
fi
exit $status
