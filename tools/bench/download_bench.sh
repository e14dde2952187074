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

check() {  # name, file
  local got
  got=$(sha256sum "$2" | cut -d' ' -f1)
  if [ "$got" != "$sha" ]; then
    echo "$1: SHA-256 mismatch ($got)" >&2
    exit 1
  fi
}

echo "curl, one connection"
t0=$(now)
curl -sS -o "$work/out/curl/big.bin" "$url"
t1=$(now)
check curl "$work/out/curl/big.bin"
curl_s=$(python3 -c "print($t1 - $t0)")

echo "aria2c -x8 -s8"
t0=$(now)
aria2c -q -x8 -s8 --file-allocation=none --allow-overwrite=true \
  -d "$work/out/aria2c" -o big.bin "$url"
t1=$(now)
check aria2c "$work/out/aria2c/big.bin"
aria_s=$(python3 -c "print($t1 - $t0)")

echo "rangeget under Wine, 8 ranges, digest checked"
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
read -r download_s join_s < <(awk '$1 == "download" { d = $2 } $1 == "join+hash" { j = $2 }
  END { print d, j }' "$log")

python3 - "$bytes" "$curl_s" "$aria_s" "$range_s" "$download_s" "$join_s" <<'PY'
import sys
size, curl, aria, rangeget, download, join = (float(v) for v in sys.argv[1:])
rate = lambda seconds: size / seconds / 1e6
print(f"file            {size / 1048576:.0f} MiB, MB = 10^6 bytes, wall-clock times")
print(f"curl            {rate(curl):8.1f} MB/s  {curl:7.2f} s")
print(f"aria2c -x8 -s8  {rate(aria):8.1f} MB/s  {aria:7.2f} s")
print(f"rangeget        {rate(rangeget):8.1f} MB/s  {rangeget:7.2f} s"
      f"  (download {download:.2f} s, merge+hash {join:.2f} s)")
print(f"rangeget/curl   {curl / rangeget:8.2f}x")
print(f"rangeget/aria2c {aria / rangeget:8.2f}x")
print(f"merge+hash      {100 * join / rangeget:8.1f} % of rangeget's wall-clock time")
PY
