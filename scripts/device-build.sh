#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the device release of vorn and packs its tarball:
#   scripts/device-build.sh [--test] [armhf] [arm64] [armel]   (armhf and
#                                                              arm64 when none)
# armhf and arm64: against the oldest Debian release that this machine's
# Debian mirror still serves (Debian 11 today), with clang and lld through
# the generic toolchain file cmake/sysroot.cmake, so that vorn runs on old
# firmware. With --test, the whole suite runs under qemu-user on the
# sysroot's own runtime, and the end-to-end tests of the built vorn (those
# labelled end-to-end) again on the runtime of the newest Debian release known
# (a sysroot of Debian 12).
# armel: the route of a device maker's SDK, as docs/device.md gives it, with
# Debian's ARM soft-float GCC cross compiler as the SDK's compilers, a Debian
# 12 armel sysroot (its C library matches the compiler's) and
# VORN_ZEROVORA=system against a libzerovora.so.0 built beforehand for armel
# (the stand-in, standing for the device's library). With --test, a baseline
# older than what vorn needs must fail the build, and the end-to-end tests run
# under qemu-arm on the sysroot's runtime.
# The build folder is build-device-ARCH/. The builds are the presets
# device-armhf, device-arm64, sdk-armel-library and sdk-armel
# (CMakePresets.json), with the sysroot in $VORN_SYSROOT.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
test=false
arches=()
for argument in "$@"; do
  case "$argument" in
    --test) test=true ;;
    armhf | arm64 | armel) arches+=("$argument") ;;
    *) echo "usage: scripts/device-build.sh [--test] [armhf] [arm64] [armel]" >&2; exit 2 ;;
  esac
done
[ ${#arches[@]} -gt 0 ] || arches=(armhf arm64)

purposes=(build device)
for arch in "${arches[@]}"; do
  [ "$arch" != armel ] || purposes+=(sdk:armel)
done
! $test || purposes+=(test)
"$top/scripts/install-deps.sh" "${purposes[@]}"
if $test; then
  # shellcheck source=x-server.sh
  . "$top/scripts/x-server.sh"
  ensure_x_server
fi

# Every library that vorn loads on the sysroot's runtime comes from the
# sysroot, or from FOLDER (where the stand-in is).
# (vorn finds the stand-in through a RUNPATH relative to its own folder.)
check_loaded_from() {
  local build=$1 allowed outside
  allowed=("$(realpath "$sysroot")" "$(realpath "$2")")
  outside=$("${emulator_command[@]}" --list "$build/bin/vorn" | grep '=>' |
    while read -r name _ path _; do
      path=$(realpath -m "$path")
      [[ $path == "${allowed[0]}"/* || $path == "${allowed[1]}"/* ]] || echo " $name => $path"
    done)
  [ -z "$outside" ] || { echo "vorn loads libraries from outside the sysroot:$outside" >&2; exit 1; }
}

pack() {
  (cd "$1" && cpack >/dev/null)
  for tarball in "$1"/*.tar.gz; do
    echo "$(basename "$tarball"):" $(tar -tzf "$tarball")
  done
}

baseline_build() {
  local arch=$1 triplet=$2 build=$3 emulator
  case "$arch" in
    armhf) emulator=qemu-arm ;;
    arm64) emulator=qemu-aarch64 ;;
  esac
  sysroot=$("$top/scripts/sysroot.sh" "$arch")
  export VORN_SYSROOT=$sysroot
  cmake --preset "device-$arch" -DBUILD_TESTING="$($test && echo ON || echo OFF)" >/dev/null
  cmake --build --preset "device-$arch"
  file "$build/bin/vorn"
  if $test; then
    emulator_command=("$top/cmake/target-run.sh" "$emulator" "$sysroot" "$triplet")
    check_loaded_from "$build" "$build/lib"
    echo "== $arch: the whole suite on the sysroot's runtime ($sysroot)"
    ctest --preset "device-$arch"
    VORN_NEWER_RUNTIME=$("$top/scripts/sysroot.sh" "$arch" newest)
    export VORN_NEWER_RUNTIME
    echo "== $arch: the end-to-end tests on a newer release's runtime ($VORN_NEWER_RUNTIME)"
    ctest --preset "device-$arch-host"
  fi
  pack "$build"
}

sdk_build() {
  local triplet=$1 build=$2
  local sdk_cc=$triplet-gcc sdk_cxx=$triplet-g++ baseline=2.34
  sysroot=$("$top/scripts/sysroot.sh" armel newest)
  export VORN_SYSROOT=$sysroot
  # The device's library, for the SDK: the stand-in built for the target.
  cmake --preset sdk-armel-library >/dev/null
  cmake --build --preset sdk-armel-library >/dev/null
  DESTDIR=$build/device-library/root cmake --install "$build/device-library" --component standin >/dev/null
  library=$build/device-library/root/usr/lib/libzerovora.so.0
  export VORN_ZEROVORA_LIBRARY=$library

  # The command of docs/device.md, word for word but for the paths, which proves
  # what it says (the preset sdk-armel gives the same settings).
  sdk_configure() {
    cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/sysroot.cmake" \
      -DVORN_TARGET="$triplet" -DVORN_SYSROOT="$sysroot" \
      -DVORN_CC="$sdk_cc" -DVORN_CXX="$sdk_cxx" \
      -DVORN_ZEROVORA_LIBRARY="$library" \
      -DVORN_GLIBC_BASELINE="$1" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_TESTING=OFF \
      -DVORN_DEVICE_CHECK="${2:-ON}" >/dev/null
  }
  if $test; then
    sdk_configure 2.4
    if output=$(cmake --build "$build" 2>&1); then
      echo "the SDK build passed with the baseline 2.4, although vorn needs $baseline" >&2
      exit 1
    fi
    grep -F "vorn is not fit for the device: it needs GLIBC_" <<<"$output" ||
      { echo "$output" >&2; exit 1; }
    # An integrator can turn the check off.
    sdk_configure 2.4 OFF
    cmake --build "$build" >/dev/null ||
      { echo "the SDK build failed with the device check off" >&2; exit 1; }
  fi
  sdk_configure "$baseline"
  cmake --build "$build"
  file "$build/bin/vorn"
  if cmake --build "$build" --target help | grep -q -e vorn_bench -e vorn_floor; then
    echo "the SDK build builds the benchmark" >&2
    exit 1
  fi
  pack "$build"
  if $test; then
    cmake --preset sdk-armel -DBUILD_TESTING=ON -DVORN_EMULATOR=qemu-arm >/dev/null
    cmake --build --preset sdk-armel
    emulator_command=("$top/cmake/target-run.sh" qemu-arm "$sysroot" "$triplet")
    check_loaded_from "$build" "$(dirname "$library")"
    echo "== armel (SDK route): the end-to-end tests on the sysroot's runtime ($sysroot)"
    ctest --preset sdk-armel
  fi
}

for arch in "${arches[@]}"; do
  triplet=$("$top/scripts/triplet.sh" "$arch")
  build=$top/build-device-$arch
  if [ "$arch" = armel ]; then
    sdk_build "$triplet" "$build"
  else
    baseline_build "$arch" "$triplet" "$build"
  fi
done
