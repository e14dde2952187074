#!/usr/bin/env bash
# Succeeds when this machine's kernel runs 32-bit x86 Linux programs natively, as 32-bit Wine needs.
# An emulator registered for them does not count: Wine does not survive user-mode emulation.
[ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && exit 1
[ -x /usr/lib/wine/wineserver32 ] || exit 1
timeout 10 /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
