#!/usr/bin/env bash
# Configures and builds everything. ARCH=i686 (default, the shipped installer) or x86_64 (the same
# sources for machines that cannot run 32-bit programs); BUILD_DIR defaults to build/ or build-x64/.
# Extra arguments go to the build tool (for example --target installer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${ARCH:-i686}
case "$arch" in
  i686) build=${BUILD_DIR:-$root/build} ;;
  x86_64) build=${BUILD_DIR:-$root/build-x64} ;;
  *) echo "ARCH must be i686 or x86_64" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j2 "$@"
