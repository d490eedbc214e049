#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the path of a Debian build host of the release CODENAME (bullseye
# or trixie), as an integrator's build machine of that release has it: its
# own CMake, make and Ninja, pkg-config, GCC and the GCC cross compilers for
# armhf (and GCC 9 beside GCC 10 on bullseye), and the libraries of a native
# build. It is made with mmdebstrap the first time and cached beside the
# sysroots (scripts/root-cache.sh); scripts/in-root.sh runs a command in it.
#   scripts/build-host.sh bullseye|trixie
set -euo pipefail
usage="usage: scripts/build-host.sh bullseye|trixie"
codename=${1:?$usage}
packages="cmake,make,ninja-build,pkgconf,file,g++,g++-arm-linux-gnueabihf,libgtk2.0-dev,libglib2.0-dev,libsqlite3-dev"
case "$codename" in
  bullseye) packages+=",g++-9,g++-9-arm-linux-gnueabihf" ;;
  trixie) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
# shellcheck source=root-cache.sh
. "$(dirname "$0")/root-cache.sh"
mirror=$("$(dirname "$0")/debian-mirror.sh")
key=$(printf '%s' "build-host 1 $codename $packages" | sha256sum | cut -c1-12)
root=$cache/host-$codename-amd64-$key
make_root "$root" "the $codename build host" "$codename" "$mirror" --variant=apt \
  --include="$packages" --customize-hook='touch "$1/.complete"'
echo "$root"
