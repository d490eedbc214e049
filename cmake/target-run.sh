#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a target program under qemu-user on the sysroot's own runtime:
#   target-run.sh QEMU SYSROOT TRIPLET PROGRAM [ARGS...]
# The sysroot's loader is started with only the sysroot's library folders
# (after those of LD_LIBRARY_PATH, which come first as they would on the
# target) and without the loader's cache, which would otherwise lead it to
# the build machine's multiarch libraries. With VORN_TARGET_RUNTIME=ROOT the program
# runs on the runtime of that root instead (another release's sysroot).
# On an armv7 machine, an armhf program runs without qemu.
set -euo pipefail
qemu=$1 root=$2 triplet=$3
shift 3
# On the target's own kind of machine (the emulated board), the program runs
# as it is.
if [ "$triplet:$(uname -m)" = arm-linux-gnueabihf:armv7l ]; then
  exec "$@"
fi
# A program under qemu-user has the emulator's threads, and a process with
# threads can't enter a user namespace, which a test needs for its private
# card when it is not run as root: an ordinary user's program runs in one of
# its own from the start, as its root.
if [ "$(id -u)" -ne 0 ]; then
  exec unshare --map-root-user --mount "$0" "$qemu" "$root" "$triplet" "$@"
fi
root=${VORN_TARGET_RUNTIME:-$root}
case "$triplet" in
  arm-linux-gnueabihf) loader=/lib/ld-linux-armhf.so.3 ;;
  aarch64-linux-gnu) loader=/lib/ld-linux-aarch64.so.1 ;;
  arm-linux-gnueabi) loader=/lib/ld-linux.so.3 ;;
  *) echo "target-run.sh: no loader known for $triplet" >&2; exit 127 ;;
esac
exec "$qemu" "$root$loader" --inhibit-cache \
  --library-path "${LD_LIBRARY_PATH:+$LD_LIBRARY_PATH:}$root/lib/$triplet:$root/usr/lib/$triplet" "$@"
