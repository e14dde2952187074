#!/usr/bin/env bash
# Configures and builds everything through the CMake presets. ARCH=i686 (default, the shipped
# installer: preset dev) or x86_64 (the same sources for machines that cannot run 32-bit
# programs: preset dev-x64); BUILD_DIR defaults to the preset's folder. Extra arguments go to the
# build tool (for example --target installer).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${ARCH:-i686}
case "$arch" in
  i686) preset=dev; build=${BUILD_DIR:-$root/build} ;;
  x86_64) preset=dev-x64; build=${BUILD_DIR:-$root/build-x64} ;;
  *) echo "ARCH must be i686 or x86_64" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086
cmake --preset "$preset" -S "$root" -B "$build" ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j2 "$@"
