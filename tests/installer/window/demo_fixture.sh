#!/usr/bin/env bash
# Starts or stops the demo download server for the setup window's tests, serving this build's
# demo package under both package names. Usage: demo_fixture.sh start BUILD PACKAGE | stop BUILD
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
action=${1:?start or stop}
build=${2:?build folder}
state="$build/demo-server"
case "$action" in
  start)
    # shellcheck disable=SC1091
    . "$build/fixture-ports"
    "$root/tools/demo/serve.sh" start "$state" "$DEMO_PORT"
    package=${3:?package}
    cp "$package" "$state/www/Clipmint_full_setup.exe"
    cp "$package" "$state/www/Clipmint_full_setup_x64.exe"
    ;;
  stop) "$root/tools/demo/serve.sh" stop "$state" ;;
  *) echo "start or stop" >&2; exit 2 ;;
esac
