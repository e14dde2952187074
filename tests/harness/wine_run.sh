#!/usr/bin/env bash
# Runs one Windows program under the build folder's Wine session; its exit code is the program's.
# Usage: wine_run.sh PROGRAM.exe [ARGS...]  (INSTALLER_BUILD_DIR names the build folder)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=${INSTALLER_BUILD_DIR:?INSTALLER_BUILD_DIR must name the build folder}
env_file="$build_dir/wine-session.env"

# shellcheck disable=SC1090
. "$here/wine_env.sh" "$build_dir"
# shellcheck disable=SC1090
. "$here/desktop.sh" "$build_dir"
# A session file outlives its display when the machine restarts; the session starts again then,
# as Wine against a display that is gone would fail every window.
# shellcheck disable=SC1090
{ [ -f "$env_file" ] && . "$env_file" && session_display_alive; } ||
  "$here/session.sh" start "$build_dir" </dev/null >/dev/null 2>&1
# shellcheck disable=SC1090
. "$env_file"
if [ "$WINEARCH" = win32 ] && ! "$here/can_run_32bit.sh"; then
  echo "this machine cannot run 32-bit programs; build with ARCH=x86_64 scripts/build.sh" >&2
  exit 125
fi
# Wine prefers its built-in libraries; the planting tests need a library found in a program's
# folder to win, as it would on Windows. Overrides are read when a process starts, so they
# must be set here rather than by a test for its children. The names are the timer library
# and the system libraries the installer loads ahead at start (its LateSystemLibraries list);
# a program whose folder holds none of them loads the system's own either way.
planted="winmm bcrypt crypt32 rsaenh uxtheme gdiplus msimg32 usp10 riched20 msftedit mpr wininet
  jsproxy winhttp propsys windowscodecs msacm32 explorerframe secur32 kerberos dnsapi nsi iphlpapi
  netapi32 msv1_0 schannel wintrust dbghelp imagehlp cryptnet urlmon ieframe actxprxy oleacc"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;$(echo $planted | tr ' ' ',')=n,b}"

# Wine may start helper processes (services, the desktop window) that outlive the program and
# inherit its output; give them a file rather than the caller's pipe, which would then never
# close and leave the caller waiting.
output=$(mktemp "$build_dir/wine-output.XXXXXX")
child=0
# A runner's timeout must still show how far the program got.
on_signal() {
  [ "$child" -ne 0 ] && kill "$child" 2>/dev/null
  cat "$output"
  rm -f "$output"
  exit 124
}
trap on_signal TERM INT
hold_desktop
"$WINE" "$@" </dev/null >"$output" 2>&1 &
child=$!
status=0
wait "$child" || status=$?
cat "$output"
rm -f "$output"
# Without the keeper, Wine's desktop process outlives a program's last window by about two
# seconds. A program that starts meanwhile is tied to a desktop that is going away, and its
# window-move loop then dies on an X error; so the next program starts only once the desktop
# has gone (bounded).
desktop_keeper_alive || wait_desktop_gone 150
exit $status
