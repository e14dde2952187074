#!/usr/bin/env bash
# Starts or stops the shared Wine session of a build folder: private prefix, virtual display,
# and one persistent wineserver, so the test programs start Wine only once between them.
# Usage: session.sh start|stop BUILD_DIR
set -euo pipefail

action=${1:?start or stop}
build_dir=$(cd "${2:?build folder}" && pwd)
env_file="$build_dir/wine-session.env"

export WINEPREFIX="$build_dir/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all

start() {
  if [ -f "$env_file" ]; then
    # shellcheck disable=SC1090
    . "$env_file"
    if kill -0 "${XVFB_PID:-0}" 2>/dev/null; then
      wineserver -p >/dev/null 2>&1 || true
      return 0
    fi
  fi
  local display=""
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
  Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  local xvfb_pid=$!
  for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
  done
  printf 'export DISPLAY=%s\nexport XVFB_PID=%s\n' "$display" "$xvfb_pid" >"$env_file"
  export DISPLAY="$display"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # No browser or .NET runtime is wanted in the prefix; skip their install prompts.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  wineserver -p >/dev/null 2>&1 || true
}

stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -f "$env_file" ]; then
    # shellcheck disable=SC1090
    . "$env_file"
    kill "${XVFB_PID:-0}" 2>/dev/null || true
    rm -f "$env_file"
  fi
}

"$action"
