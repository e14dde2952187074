#!/usr/bin/env bash
# Download benchmark: rangeget under Wine against aria2c, each pair measured in one run against
# the same local server, SHA-256 checked by both:
#   capped  256 MiB at 8 MiB/s per connection, aria2c -x8 -s8
#   edge    the same with the first connection held to a quarter of that, aria2c -x8 -s8 -k1M
#   open    512 MiB from nginx without a cap, aria2c -x8 -s8 --checksum=sha-256=...
#   slow    650 kB and 5 MB from nginx at 12 KB/s per request (limit_rate 12k), aria2c -x8 -s8
#   lossy   64 MiB from the fault server, which resets each connection after 1 MiB,
#           aria2c -x8 -s8 --max-tries=0
# The caps come from a relay in front of nginx (slow_edge.py), per TCP connection: nginx's own
# limit is per request, which a downloader issuing a request per piece would escape.
# Usage: tools/bench/download_bench.sh [capped|edge|open ...]  (BUILD_DIR picks the build folder,
# RANGEGET another rangeget.exe to measure)
# Not a test: nothing here asserts a time, and the test scripts never start it.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
scenarios=${*:-capped edge open slow lossy}

# The benchmark needs rangeget to run under Wine here, so it builds the width this machine runs.
if "$root/tests/harness/can_run_32bit.sh"; then
  arch=i686
  build=${BUILD_DIR:-$root/build}
else
  arch=x86_64
  build=${BUILD_DIR:-$root/build-x64}
fi
# RANGEGET names another build's rangeget to measure instead (an earlier commit, say), run here
# against the same servers; this build's Wine session still runs it.
targets=(--target desktop_keeper)
[ -n "${RANGEGET:-}" ] || targets+=(--target rangeget)
ARCH=$arch BUILD_DIR=$build "$root/scripts/build.sh" "${targets[@]}" >/dev/null
build=$(cd "$build" && pwd)
rangeget=${RANGEGET:-$build/tools/rangeget.exe}

work="$build/download-bench"
rm -rf "$work/out"
mkdir -p "$work/out/aria2c" "$work/out/rangeget"
edge_pid=0
edge_port=0
url=

cleanup() {
  if [ "$edge_pid" != 0 ]; then kill "$edge_pid" 2>/dev/null || true; fi
  "$root/tools/fixtures/http_servers.sh" stop "$work" >/dev/null 2>&1 || true
  "$root/tests/harness/session.sh" stop "$build" >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "preparing 256 and 512 MiB files and the servers"
BIG_FILE_MB=512 "$root/tools/fixtures/http_servers.sh" start "$work" >/dev/null
www="$work/http-servers/www"
if [ "$(stat -c %s "$www/big256.bin" 2>/dev/null || echo 0)" != $((256 << 20)) ]; then
  head -c $((256 << 20)) /dev/urandom >"$www/big256.bin"
fi
if [ "$(stat -c %s "$www/size5m.bin" 2>/dev/null || echo 0)" != 5000000 ]; then
  head -c 5000000 /dev/urandom >"$www/size5m.bin"
fi
servers="$work/http-servers/servers.txt"
port=$(awk '$1 == "nginx" { print $2 }' "$servers")
fault_port=$(awk '$1 == "fault" { print $2 }' "$servers")
sha256=$(sha256sum "$www/big256.bin" | cut -d' ' -f1)
sha512=$(awk '$1 == "sha256" && $2 == "big.bin" { print $3 }' "$servers")

# Windows always has its desktop; Wine starts one with a session's first window and ends it about
# two seconds after the last closes. The session's desktop keeper holds it for the whole run,
# which keeps that start and end out of rangeget's time.
"$root/tests/harness/session.sh" start "$build" >/dev/null
# shellcheck disable=SC1090
. "$build/wine-session.env"
# shellcheck disable=SC1090
. "$root/tests/harness/wine_env.sh" "$build"
export WINEDLLOVERRIDES="mscoree,mshtml="
folder=$(printf 'Z:%s' "$work/out/rangeget" | tr / '\\')
"$WINE" "$rangeget" "http://127.0.0.1:$port/files/size100.bin" "$folder" </dev/null \
  >"$work/warm-up.txt" 2>&1

now() { date +%s.%N; }

# Each tool starts with nothing of the previous one's output still waiting to reach the disk:
# otherwise whoever runs after a fast writer is throttled by the kernel for the other's data.
settle() {
  rm -f "$work/out/aria2c/"* "$work/out/rangeget/"*
  sync
}

check() {  # name, file, digest
  local got
  got=$(sha256sum "$2" | cut -d' ' -f1)
  if [ "$got" != "$3" ]; then
    echo "$1: SHA-256 mismatch ($got)" >&2
    exit 1
  fi
}

# Starts the relay that caps each connection at 8 MiB/s and the first at FIRST; sets edge_port.
start_edge() {  # first connection's rate
  rm -f "$work/edge.port"
  python3 "$root/tools/bench/slow_edge.py" "$work/edge.port" "$port" $((8 << 20)) "$1" \
    >"$work/edge.log" 2>&1 &
  edge_pid=$!
  for _ in $(seq 100); do [ -s "$work/edge.port" ] && break; sleep 0.1; done
  edge_port=$(cat "$work/edge.port")
}

stop_edge() {
  if [ "$edge_pid" != 0 ]; then
    kill "$edge_pid" 2>/dev/null || true
    wait "$edge_pid" 2>/dev/null || true
  fi
  edge_pid=0
}

# The server as each tool sees it: nginx itself, or a fresh relay whose first connection is the
# first of that tool's.
set_url() {  # scenario, path
  case "$1" in
    capped) start_edge $((8 << 20)) ;;
    edge) start_edge $((2 << 20)) ;;
    lossy) url="http://127.0.0.1:$fault_port$2"; return ;;
    *) url="http://127.0.0.1:$port$2"; return ;;
  esac
  url="http://127.0.0.1:$edge_port$2"
}

run_pair() {  # scenario, path, file name, digest, aria2c options...
  local scenario=$1 path=$2 name=$3 digest=$4
  shift 4
  settle
  local t0 t1
  set_url "$scenario" "$path"
  t0=$(now)
  aria2c -q -x8 -s8 --file-allocation=none --allow-overwrite=true "$@" \
    -d "$work/out/aria2c" -o "$name" "$url"
  t1=$(now)
  stop_edge
  check aria2c "$work/out/aria2c/$name" "$digest"
  local aria_s
  aria_s=$(python3 -c "print($t1 - $t0)")
  local size
  size=$(stat -c %s "$work/out/aria2c/$name")
  settle
  local log="$work/rangeget-$scenario.txt"
  set_url "$scenario" "$path"
  t0=$(now)
  if ! "$WINE" "$rangeget" "$url" "$folder" "$digest" </dev/null >"$log" 2>&1; then
    echo "rangeget failed:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
  t1=$(now)
  stop_edge
  check rangeget "$work/out/rangeget/$name.download" "$digest"
  python3 - "$scenario" "$size" "$aria_s" \
    "$(python3 -c "print($t1 - $t0)")" "$log" <<'PY'
import sys
scenario, size, aria, wall, log = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), \
    float(sys.argv[4]), sys.argv[5]
values, connections, memory, threads = {}, [], "", ""
for line in open(log, errors="replace"):
    words = line.split()
    if not words:
        continue
    if words[0] == "timeline":
        values["window"], values["finished"] = float(words[4]), float(words[6])
    elif words[0] in ("download", "tail"):
        values[words[0]] = float(words[1])
    elif words[0] == "connection":
        connections.append("%s:%.1fMiB/%s/%s/%s" % (words[1], int(words[3]) / 1048576,
                                                    words[5], words[7], words[9]))
    elif words[0] == "received":
        values["received"] = float(words[1])
    elif words[0] == "memory":
        memory = line.strip()
    elif words[0] == "threads":
        threads = line.strip()
engine = values["finished"] - values["window"]
rate = lambda seconds: size / seconds / 1e6
print(f"[{scenario}] {size / 1048576:.2f} MiB, MB = 10^6 bytes")
print(f"  aria2c           {rate(aria):7.1f} MB/s {aria:6.2f} s")
print(f"  rangeget (wall)  {rate(wall):7.1f} MB/s {wall:6.2f} s   ratio {aria / wall:.2f}x")
print(f"  downloader only  {rate(engine):7.1f} MB/s {engine:6.2f} s   ratio {aria / engine:.2f}x"
      "   (Start to the finished message)")
print(f"  after last byte  {values['tail']:.3f} s = {100 * values['tail'] / engine:.1f} %"
      " of the downloader's time")
print(f"  connections (bytes/pieces/retries/takeovers) {' '.join(connections)}")
print(f"  received {values.get('received', 0) / size:.2f} times the file")
print(f"  {memory}")
print(f"  {threads}")
PY
}

for scenario in $scenarios; do
  case "$scenario" in
    capped) run_pair capped /files/big256.bin big256.bin "$sha256" ;;
    edge) run_pair edge /files/big256.bin big256.bin "$sha256" -k1M ;;
    open) run_pair open /files/big.bin big.bin "$sha512" \
      "--checksum=sha-256=$sha512" ;;
    slow)
      run_pair slow /throttled/size650k.bin size650k.bin "$(sha256sum "$www/size650k.bin" | cut -d' ' -f1)"
      run_pair slow /throttled/size5m.bin size5m.bin "$(sha256sum "$www/size5m.bin" | cut -d' ' -f1)"
      ;;
    lossy) run_pair lossy /reset-after/1048576/big64.bin big64.bin \
      "$(sha256sum "$www/big64.bin" | cut -d' ' -f1)" --max-tries=0 ;;
    *) echo "unknown scenario $scenario" >&2; exit 2 ;;
  esac
done
