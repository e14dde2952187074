#!/usr/bin/env bash
# Serves the demo's download server on 127.0.0.1: the setup packages that the caller puts into
# STATE_DIR/www and the terms and welcome pages from site/, with byte ranges, logging every
# request to STATE_DIR/access.log. Usage: serve.sh start|stop STATE_DIR [PORT]  (PORT: 18080)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
action=${1:?start or stop}
state=$(mkdir -p "${2:?state folder}" && cd "$2" && pwd)
port=${3:-18080}
www="$state/www"
pid_file="$state/nginx.pid"
# shellcheck source=../fixtures/nginx.sh
. "$here/../fixtures/nginx.sh"

running() {
  [ -f "$pid_file" ] && kill -0 "$(cat "$pid_file")" 2>/dev/null
}

port_answers() {
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $1), 0.2).close()" 2>/dev/null
}

stop() {
  if running; then
    local pid
    pid=$(cat "$pid_file")
    kill "$pid" 2>/dev/null || true
    # nginx removes its pid file once its workers are gone; wait for that, but not forever.
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$pid_file"
}

start() {
  # A second start replaces the first, so the config and pages always match this call.
  stop
  if port_answers "$port"; then
    echo "something else already listens on 127.0.0.1:$port" >&2
    return 1
  fi
  mkdir -p "$www"
  cp -R "$here/site/." "$www/"

  nginx_write_conf "$state" "$pid_file" 1 128 <<CONF
  log_format demo '\$remote_addr [\$time_local] "\$request" \$status \$body_bytes_sent "\$http_range"';
  access_log $state/access.log demo;
  types {
    text/html html;
    text/css css;
    image/png png;
    image/svg+xml svg;
  }
  default_type application/octet-stream;
  charset utf-8;
  server {
    listen 127.0.0.1:$port;
    root $www;
  }
}
CONF
  nginx_start "$state"
  for _ in $(seq 100); do
    if port_answers "$port"; then
      echo "demo server on http://127.0.0.1:$port/ serving $www"
      return 0
    fi
    sleep 0.1
  done
  echo "nginx did not answer on port $port (see $state/error.log)" >&2
  stop
  return 1
}

case "$action" in
  start | stop) "$action" ;;
  *) echo "usage: serve.sh start|stop STATE_DIR [PORT]" >&2; exit 2 ;;
esac
