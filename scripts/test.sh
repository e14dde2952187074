#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test program under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/deps.sh"

# The shipped 32-bit installer and its 32-bit test programs are always built, and the installer
# is signed with a throwaway certificate so that the release's signing step is exercised too.
signer="$build/throwaway-signer"
"$root/scripts/make-throwaway-signer.sh" "$signer"
ARCH=i686 BUILD_DIR=$build \
  CMAKE_ARGS="-DINSTALLER_SIGN_CERT=$signer/signer.pem -DINSTALLER_SIGN_KEY=$signer/signer.key" \
  "$root/scripts/build.sh"
product="$build/installer/main/$(cat "$build/installer-name")"

# A kernel without 32-bit support cannot start 32-bit Wine; there the same sources are built for
# x86-64 and run under 64-bit Wine, and the shipped executable is still checked as built.
test_build=$build
if ! "$root/tests/harness/can_run_32bit.sh"; then
  echo "this machine cannot run 32-bit programs: running the x86-64 build of the tests"
  test_build="$build-x64"
  ARCH=x86_64 BUILD_DIR=$test_build \
    CMAKE_ARGS="-DPRODUCT_INSTALLER_EXE=$product -DSHIPPED_INSTALLER_SIGNER=$signer/signer.pem" \
    "$root/scripts/build.sh"
fi

"$root/tests/harness/session.sh" start "$test_build"
trap '"$root/tests/harness/session.sh" stop "$test_build"' EXIT
cd "$test_build"
ctest --output-on-failure -j2
