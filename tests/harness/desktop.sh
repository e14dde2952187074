# Sourced with a build folder after wine_env.sh: the session's desktop and the keeper holding it.
# shellcheck shell=bash
_desktop_build=${1:?build folder}
desktop_keeper_pid_file="$_desktop_build/desktop-keeper.pid"
desktop_keeper_exe="$_desktop_build/tests/desktop_keeper.exe"
desktop_ready_file="$_desktop_build/desktop-keeper.ready"

# Whether a process is this prefix's: another suite's or a demo's is no concern of this one. A
# process that died is a zombie with no environment, so it does not count.
in_prefix() {  # pid
  { tr '\0' '\n' <"/proc/$1/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"
}
# This prefix's processes of one system program.
own_processes() {  # program name
  local pid
  for pid in $(pgrep -f "C:\\\\windows\\\\system32\\\\$1" 2>/dev/null); do
    in_prefix "$pid" && echo "$pid"
  done
}
own_desktop() { [ -n "$(own_processes explorer.exe)" ]; }
# Waits at most N tenths of a second for this prefix's desktop process to go.
wait_desktop_gone() {  # N
  for _ in $(seq "$1"); do
    own_desktop || return 0
    sleep 0.1
  done
}

# Whether the session file's display server still runs. After a restart its number may name
# another program, and a server that was killed lingers as a zombie until it is reaped.
session_display_alive() {
  [ -n "${XVFB_PID:-}" ] &&
    ps -o stat=,comm= -p "$XVFB_PID" 2>/dev/null |
    awk '$1 !~ /^Z/ && $2 == "Xvfb" { found = 1 } END { exit !found }'
}

desktop_keeper_alive() {
  [ -f "$desktop_keeper_pid_file" ] && kill -0 "$(cat "$desktop_keeper_pid_file")" 2>/dev/null
}

# Ends the keeper, then the desktop process and the prefix's object broker: the broker keeps
# handing out a dead desktop's shell objects and refuses the next desktop's as already there,
# and is started afresh on the next request. A desktop is let go once its last user has gone.
drop_desktop() {
  local pid
  if [ -f "$desktop_keeper_pid_file" ]; then
    pid=$(cat "$desktop_keeper_pid_file")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  fi
  rm -f "$desktop_keeper_pid_file" "$desktop_ready_file"
  # shellcheck disable=SC2046  # one argument per process
  kill $(own_processes explorer.exe) $(own_processes rpcss.exe) 2>/dev/null || true
  wait_desktop_gone 50
}

# Starts a keeper and waits (bounded) until it reports the desktop's shell objects answering.
start_keeper() {
  rm -f "$desktop_ready_file"
  # A session of its own: a runner stopping the test that started it must not take the
  # desktop down with the test.
  setsid "$WINE" "$desktop_keeper_exe" "Z:${desktop_ready_file//\//\\}" </dev/null \
    >"$_desktop_build/desktop-keeper.log" 2>&1 9>&- &
  local pid=$!
  echo "$pid" >"$desktop_keeper_pid_file"
  for _ in $(seq 300); do
    [ -f "$desktop_ready_file" ] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Holds a working desktop: a live keeper that found the shell objects answering, with its
# desktop process still alive. A new keeper first joins whatever desktop there is; a keeper
# whose desktop died, or a desktop that does not answer, is replaced. Before the keeper is
# built, programs start and end the desktop themselves, as they used to.
hold_desktop() {
  [ -f "$desktop_keeper_exe" ] || return 0
  (
    flock -w 60 9 || exit 0
    desktop_keeper_alive && [ -f "$desktop_ready_file" ] && own_desktop && exit 0
    for attempt in 1 2; do
      if [ "$attempt" = 2 ] || desktop_keeper_alive; then drop_desktop; fi
      start_keeper && exit 0
      echo "the desktop's shell objects did not answer (try $attempt)" >&2
    done
    exit 0
  ) 9>"$_desktop_build/.desktop-lock"
}
