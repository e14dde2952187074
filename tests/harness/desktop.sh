# Sourced with a build folder after wine_env.sh: the session's desktop and the keeper holding it.
# shellcheck shell=bash
_desktop_build=${1:?build folder}
desktop_keeper_pid_file="$_desktop_build/desktop-keeper.pid"
desktop_keeper_exe="$_desktop_build/tests/desktop_keeper.exe"

# This prefix's processes of one system program: another suite's or a demo's are no concern
# of this one. A process that died is a zombie with no environment, so it does not count.
own_processes() {  # program name
  local pid
  for pid in $(pgrep -f "C:\\\\windows\\\\system32\\\\$1" 2>/dev/null); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
own_desktop() { [ -n "$(own_processes explorer.exe)" ]; }

desktop_keeper_alive() {
  [ -f "$desktop_keeper_pid_file" ] && kill -0 "$(cat "$desktop_keeper_pid_file")" 2>/dev/null
}

# Starts the keeper unless it holds a live desktop already; a keeper whose desktop process died
# is replaced, so the next desktop is a working one once the dead one's last user has left.
# Before the keeper is built, programs start and end the desktop themselves, as they used to.
hold_desktop() {
  [ -f "$desktop_keeper_exe" ] || return 0
  (
    flock -w 30 9 || exit 0
    if desktop_keeper_alive; then
      own_desktop && exit 0
      # The dead desktop is let go once its last user has gone; a keeper started before that
      # would hold the dead one.
      local old_keeper
      old_keeper=$(cat "$desktop_keeper_pid_file")
      kill "$old_keeper" 2>/dev/null || true
      for _ in $(seq 100); do
        kill -0 "$old_keeper" 2>/dev/null || break
        sleep 0.1
      done
      # The object broker still hands out the dead desktop's shell objects, and refuses the
      # next desktop's as already there; it is started afresh on the next request.
      # shellcheck disable=SC2046  # one argument per process
      kill $(own_processes rpcss.exe) 2>/dev/null || true
    fi
    # A session of its own: a runner stopping the test that started it must not take the
    # desktop down with the test.
    setsid "$WINE" "$desktop_keeper_exe" </dev/null >"$_desktop_build/desktop-keeper.log" 2>&1 9>&- &
    echo $! >"$desktop_keeper_pid_file"
    for _ in $(seq 100); do
      own_desktop && break
      sleep 0.1
    done
  ) 9>"$_desktop_build/.desktop-lock"
}
