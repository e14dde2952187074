#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test program under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
export BUILD_DIR=$build

"$root/scripts/deps.sh"
"$root/scripts/build.sh"

"$root/tests/harness/session.sh" start "$build"
trap '"$root/tests/harness/session.sh" stop "$build"' EXIT
cd "$build"
ctest --output-on-failure -j2
