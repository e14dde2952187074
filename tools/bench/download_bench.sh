#!/usr/bin/env bash
# Download benchmark: rangeget under Wine against curl (one connection) and aria2c -x8 -s8, all
# fetching the same file from the rate-limited local nginx in one run; prints MB/s and ratios.
# Usage: tools/bench/download_bench.sh  (BUILD_DIR picks the build folder, BENCH_FILE_MB the size)
# Not a test: nothing here asserts a time, and the test scripts never start it.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
size_mb=${BENCH_FILE_MB:-256}

# The benchmark needs rangeget to run under Wine here, so it builds the width this machine runs.
if "$root/tests/harness/can_run_32bit.sh"; then
  arch=i686
  build=${BUILD_DIR:-$root/build}
else
  arch=x86_64
  build=${BUILD_DIR:-$root/build-x64}
fi
ARCH=$arch BUILD_DIR=$build "$root/scripts/build.sh" --target rangeget >/dev/null
build=$(cd "$build" && pwd)
rangeget="$build/tools/rangeget.exe"

work="$build/download-bench"
rm -rf "$work/out"
mkdir -p "$work/out/curl" "$work/out/aria2c" "$work/out/rangeget"

cleanup() {
  "$root/tools/fixtures/http_servers.sh" stop "$work" >/dev/null 2>&1 || true
  "$root/tests/harness/session.sh" stop "$build" >/dev/null 2>&1 || true
}
trap cleanup EXIT

echo "preparing a $size_mb MiB file and the servers"
BIG_FILE_MB=$size_mb "$root/tools/fixtures/http_servers.sh" start "$work" >/dev/null
servers="$work/http-servers/servers.txt"
port=$(awk '$1 == "nginx" { print $2 }' "$servers")
sha=$(awk '$1 == "sha256" && $2 == "big.bin" { print $3 }' "$servers")
url="http://127.0.0.1:$port/slow/big.bin"
bytes=$((size_mb * 1024 * 1024))

# Wine's first window in a session starts its desktop process, which costs about a second;
# one small fetch beforehand keeps that out of rangeget's time.
"$root/tests/harness/session.sh" start "$build" >/dev/null
warm=$(printf 'Z:%s' "$work/out/rangeget" | tr / '\\')
INSTALLER_BUILD_DIR=$build "$root/tests/harness/wine_run.sh" "$rangeget" \
  "http://127.0.0.1:$port/files/size100.bin" "$warm" >/dev/null 2>&1

now() { date +%s.%N; }

# What a run of rangeget costs before any byte moves: Wine starting and ending the process.
t0=$(now)
INSTALLER_BUILD_DIR=$build "$root/tests/harness/wine_run.sh" "$rangeget" >/dev/null 2>&1 || true
t1=$(now)
start_s=$(python3 -c "print($t1 - $t0)")

# Each tool starts with nothing of the previous one's output still waiting to reach the disk:
# otherwise whoever runs after a fast writer is throttled by the kernel for the other's data.
settle() { sync; }

check() {  # name, file
  local got
  got=$(sha256sum "$2" | cut -d' ' -f1)
  if [ "$got" != "$sha" ]; then
    echo "$1: SHA-256 mismatch ($got)" >&2
    exit 1
  fi
}

echo "curl, one connection"
settle
t0=$(now)
curl -sS -o "$work/out/curl/big.bin" "$url"
t1=$(now)
check curl "$work/out/curl/big.bin"
curl_s=$(python3 -c "print($t1 - $t0)")

echo "aria2c -x8 -s8"
settle
t0=$(now)
aria2c -q -x8 -s8 --file-allocation=none --allow-overwrite=true \
  -d "$work/out/aria2c" -o big.bin "$url"
t1=$(now)
check aria2c "$work/out/aria2c/big.bin"
aria_s=$(python3 -c "print($t1 - $t0)")

echo "rangeget under Wine, 8 ranges, digest checked"
settle
log="$work/rangeget.txt"
folder=$warm
t0=$(now)
if ! INSTALLER_BUILD_DIR=$build "$root/tests/harness/wine_run.sh" "$rangeget" "$url" "$folder" \
  "$sha" >"$log" 2>&1; then
  echo "rangeget failed:" >&2
  tail -n 20 "$log" >&2
  exit 1
fi
t1=$(now)
check rangeget "$work/out/rangeget/big.bin"
range_s=$(python3 -c "print($t1 - $t0)")
read -r download_s join_s window_s finished_s < <(awk '$1 == "download" { d = $2 }
  $1 == "join+hash" { j = $2 } $1 == "timeline" { w = $5; f = $7 } END { print d, j, w, f }' "$log")

# The digest alone over the same file: the share of the join that no connection can speed up.
INSTALLER_BUILD_DIR=$build "$root/tests/harness/wine_run.sh" "$rangeget" --sha256 \
  "$warm\\big.bin" >"$work/hash.txt" 2>&1
hash_rate=$(awk '$1 == "hash" { print $4 }' "$work/hash.txt")

python3 - "$bytes" "$curl_s" "$aria_s" "$range_s" "$download_s" "$join_s" "$start_s" \
  "$hash_rate" "$window_s" "$finished_s" <<'PY'
import sys
(size, curl, aria, rangeget, download, join, start, hash_rate, window,
 finished) = (float(v) for v in sys.argv[1:])
rate = lambda seconds: size / seconds / 1e6
print(f"file            {size / 1048576:.0f} MiB, MB = 10^6 bytes, wall-clock times")
print(f"curl            {rate(curl):8.1f} MB/s  {curl:7.2f} s")
print(f"aria2c -x8 -s8  {rate(aria):8.1f} MB/s  {aria:7.2f} s")
print(f"rangeget        {rate(rangeget):8.1f} MB/s  {rangeget:7.2f} s"
      f"  (download {download:.2f} s, merge+hash {join:.2f} s)")
print(f"  of which        {window:.2f} s Wine start and first window, "
      f"{finished - window - download - join:.2f} s other, {rangeget - finished:.2f} s exit")
engine = finished - window
print(f"downloader only {rate(engine):8.1f} MB/s  {engine:7.2f} s"
      f"  (its Start to the finished message: {aria / engine:.2f}x aria2c)")
print(f"rangeget/curl   {curl / rangeget:8.2f}x")
print(f"rangeget/aria2c {aria / rangeget:8.2f}x")
print(f"merge+hash      {100 * join / rangeget:8.1f} % of rangeget's wall-clock time"
      " (after its last range ended)")
print(f"wine start+exit {start:8.2f} s  (rangeget doing nothing)")
print(f"sha-256 alone   {hash_rate:8.1f} MB/s  (CryptoAPI under Wine, one thread)")
PY
