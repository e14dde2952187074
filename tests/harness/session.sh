#!/usr/bin/env bash
# Starts or stops the shared Wine session of a build folder: private prefix, virtual display,
# and one persistent wineserver, so the test programs start Wine only once between them.
# Usage: session.sh start|stop BUILD_DIR
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
action=${1:?start or stop}
build_dir=$(cd "${2:?build folder}" && pwd)
env_file="$build_dir/wine-session.env"
# shellcheck disable=SC1090
. "$here/wine_env.sh" "$build_dir"
# shellcheck disable=SC1090
. "$here/desktop.sh" "$build_dir"

start() {
  if [ -f "$env_file" ]; then
    # shellcheck disable=SC1090
    . "$env_file"
    if session_display_alive; then
      wineserver -p >/dev/null 2>&1 || true
      trust_package_root
      hold_desktop
      return 0
    fi
  fi
  # A server of this prefix left from a display that is gone would hand its programs that
  # display: a new session starts with a new server too.
  wineserver -k >/dev/null 2>&1 || true
  # Xvfb picks a free display itself and writes its number to the pipe, so parallel sessions
  # never race for one.
  local fifo="$build_dir/.xvfb-display"
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  local xvfb_pid=$!
  local display_number
  read -r -t 20 display_number <"$fifo" || { echo "Xvfb did not start" >&2; exit 1; }
  rm -f "$fifo"
  printf 'export DISPLAY=:%s\nexport XVFB_PID=%s\n' "$display_number" "$xvfb_pid" >"$env_file"
  export DISPLAY=":$display_number"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # No browser or .NET runtime is wanted in the prefix; skip their install prompts.
    WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot.exe -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  wineserver -p >/dev/null 2>&1 || true
  # URLs the programs open go to a recorder instead of a real browser: tests read what was
  # opened, and nothing leaves the machine.
  local browser="$build_dir/browser.sh"
  printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$here/record_url.sh" "$build_dir" >"$browser"
  chmod +x "$browser"
  "$WINE" reg add 'HKCU\Software\Wine\WineBrowser' /v Browsers /d "$browser" /f \
    >/dev/null 2>&1 || true
  trust_package_root
  hold_desktop
}

# The build's throwaway package-signing root goes into the machine's Root store, the only one
# the installer's package check accepts, so the signed demo package verifies as a release would.
trust_package_root() {
  local tool="$build_dir/tests/installer/analytics/trust_root.exe"
  local root="$build_dir/package-signing/root.der"
  [ -f "$tool" ] && [ -f "$root" ] || return 0
  local windows_root="Z:${root//\//\\}"
  "$WINE" "$tool" --machine "$windows_root" </dev/null >/dev/null 2>&1 ||
    echo "could not trust the package-signing root in the Wine prefix" >&2
}

stop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -f "$env_file" ]; then
    # shellcheck disable=SC1090
    . "$env_file"
    kill "${XVFB_PID:-0}" 2>/dev/null || true
    rm -f "$env_file"
  fi
  rm -f "$desktop_keeper_pid_file" "$desktop_ready_file"
}

"$action"
