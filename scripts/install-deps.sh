#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages that vorn needs, for the given purposes:
#   build  the compiler, CMake and the libraries the tool links with
#   test   GoogleTest, the X server, valgrind and the formatter the suite uses
#   demo   the sqlite3 shell that shows the stored entries
#   bench  the X server, the sqlite3 shell and valgrind that the benchmark runs
#   fuzz   clang and its runtime with libFuzzer, for the fuzz target
#   coverage  gcovr, which reports the coverage build's figures
#   sdk:ARCH  Debian's GCC cross compiler for ARCH (armel), which stands for
#          a device maker's SDK
#   device  what scripts/device-build.sh builds with: mmdebstrap (and uidmap,
#          for an ordinary user's sysroot), clang, lld, curl, readelf and
#          qemu-user
#   vm     what scripts/device-vm.sh boots the emulated board with: QEMU,
#          mmdebstrap and the tools that make its root, initramfs and card,
#          and those that check a card's image: fsck, mtools and sqlite3
# Packages already present are left alone; only missing ones are installed.
set -euo pipefail

packages=()
for purpose in "$@"; do
  case "$purpose" in
    sdk:*)
      triplet=$("$(dirname "$0")/triplet.sh" "${purpose#sdk:}")
      packages+=("g++-$triplet") ;;
    device) packages+=(mmdebstrap uidmap clang lld curl binutils qemu-user file) ;;
    vm) packages+=(qemu-system-arm mmdebstrap uidmap curl squashfs-tools kmod fdisk cpio dosfstools
      exfatprogs mtools sqlite3) ;;
    build) packages+=(g++ cmake make pkgconf libgtk2.0-dev libglib2.0-dev libsqlite3-dev) ;;
    test) packages+=(libgtest-dev xvfb x11-utils clang-format util-linux valgrind strace busybox) ;;
    demo) packages+=(sqlite3 xvfb x11-utils util-linux) ;;
    bench) packages+=(sqlite3 xvfb x11-utils util-linux valgrind) ;;
    fuzz) packages+=(clang libclang-rt-dev) ;;
    coverage) packages+=(gcovr) ;;
    *) echo "install-deps.sh: unknown purpose: $purpose" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: missing packages: ${missing[*]}" >&2
  echo "as root: apt-get update && apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# A mirror caught mid-sync fails an update for a while: it is tried again,
# and then the install goes on with the lists that apt has, which may do.
for attempt in 1 2 3; do
  apt-get update -q >/dev/null && break
  [ "$attempt" -eq 3 ] && echo "install-deps.sh: apt-get update failed; installing from the lists apt has" >&2
  [ "$attempt" -eq 3 ] || sleep 30
done
apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
