#!/usr/bin/env bash
# Runs one Windows program under the build folder's Wine session; its exit code is the program's.
# Usage: wine_run.sh PROGRAM.exe [ARGS...]  (INSTALLER_BUILD_DIR names the build folder)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=${INSTALLER_BUILD_DIR:?INSTALLER_BUILD_DIR must name the build folder}
env_file="$build_dir/wine-session.env"

[ -f "$env_file" ] || "$here/session.sh" start "$build_dir"
# shellcheck disable=SC1090
. "$env_file"
export WINEPREFIX="$build_dir/wineprefix" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
