#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, skipping what is already there.
set -euo pipefail

packages=(
  cmake make python3 googletest
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32:i386 xvfb xauth fonts-wine fonts-liberation
  # Where the kernel cannot run 32-bit programs, tests run as an x86-64 build under 64-bit Wine.
  g++-mingw-w64-x86-64 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 wine64
  nginx xdotool imagemagick x11-utils aria2 curl openssl python3-cryptography clang-format
  # The demo package and the tests' installer are signed like a release, by throwaway
  # certificates the build makes.
  osslsigncode
  # The skin archive is recompressed losslessly when it is packed.
  advancecomp
  # The skin's pictures are committed; redrawing them (tools/skin/make_skin.py) needs Pillow,
  # and the lossless recompression of what it writes jpegtran and zopflipng.
  python3-pil libjpeg-turbo-progs zopfli
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync fails one index or another for a while: try again, and if
# one still fails install from what did arrive, which fails clearly if a package is missing.
for attempt in 1 2 3; do
  apt-get update -qq && break
  echo "apt-get update failed (attempt $attempt)" >&2
  [ "$attempt" -lt 3 ] && sleep 20
done
if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  # 32-bit Wine needs every shared library in the same version for both architectures; while a
  # mirror serves one architecture's security updates and not yet the other's, it cannot be
  # installed. The tests then run as the x86-64 build, as on a kernel without 32-bit support.
  rest=()
  for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
  [ ${#rest[@]} -lt ${#missing[@]} ] || exit 1
  echo "32-bit Wine could not be installed; the tests will run as the x86-64 build" >&2
  [ ${#rest[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
fi
