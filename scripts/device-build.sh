#!/usr/bin/env bash
# Builds the device release of vorn against the oldest Debian release that
# this machine's Debian mirror still serves (Debian 11 today), so that it
# runs on old firmware:
#   scripts/device-build.sh [--test] [armhf] [arm64]     (both when none given)
# For each architecture: makes or reuses the sysroot (scripts/sysroot.sh),
# configures with the generic toolchain file cmake/sysroot.cmake (clang and
# lld) for the prefix /usr, builds, checks what vorn needs of the device
# (tests/build/device_symbols_test.sh) and packs the tarballs in
# build-device-ARCH/ (or $VORN_BUILD_DIR with one architecture).
# With --test it also runs the whole suite under qemu-user on the sysroot's
# own runtime, and the end-to-end tests of the built vorn (tests/cli) again
# on this machine's runtime (Debian 12).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
test=false
arches=()
for argument in "$@"; do
  case "$argument" in
    --test) test=true ;;
    armhf | arm64) arches+=("$argument") ;;
    *) echo "usage: scripts/device-build.sh [--test] [armhf] [arm64]" >&2; exit 2 ;;
  esac
done
[ ${#arches[@]} -gt 0 ] || arches=(armhf arm64)

purposes=(build device)
if $test; then
  purposes+=(test)
  for arch in "${arches[@]}"; do purposes+=("runtime:$arch"); done
fi
"$top/scripts/install-deps.sh" "${purposes[@]}"
if $test; then
  # shellcheck source=x-server.sh
  . "$top/scripts/x-server.sh"
  ensure_x_server
fi

for arch in "${arches[@]}"; do
  triplet=$("$top/scripts/triplet.sh" "$arch")
  case "$arch" in
    armhf) baseline=2.4 emulator=qemu-arm ;;
    arm64) baseline=2.17 emulator=qemu-aarch64 ;;
  esac
  sysroot=$("$top/scripts/sysroot.sh" "$arch")
  build=${VORN_BUILD_DIR:-$top/build-device-$arch}
  [ ${#arches[@]} -eq 1 ] || build=$top/build-device-$arch
  cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/sysroot.cmake" \
    -DVORN_TARGET="$triplet" -DVORN_SYSROOT="$sysroot" -DVORN_EMULATOR="$emulator" \
    -DVORN_GLIBC_BASELINE="$baseline" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib -DVORN_WERROR=ON \
    -DBUILD_TESTING="$($test && echo ON || echo OFF)" >/dev/null
  cmake --build "$build" -j "$(nproc)"
  file "$build/cli/vorn"
  bash "$top/tests/build/device_symbols_test.sh" "$build/cli/vorn" readelf "$baseline"
  if $test; then
    # Every library that vorn loads on the old runtime comes from the sysroot
    # (the stand-in from the build).
    emulator_command=("$top/cmake/target-run.sh" "$emulator" "$sysroot" "$triplet")
    outside=$("${emulator_command[@]}" --list "$build/cli/vorn" | grep '=>' |
      grep -v -e "=> $sysroot/" -e "=> $build/standin/" || true)
    [ -z "$outside" ] || { echo "vorn loads libraries from outside the sysroot:$outside" >&2; exit 1; }
    echo "== $arch: the whole suite on the sysroot's runtime ($sysroot)"
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
    echo "== $arch: the end-to-end tests on this machine's runtime"
    VORN_TARGET_RUNTIME=host ctest --test-dir "$build" --output-on-failure -j "$(nproc)" \
      -R '^(VornTest|ReliabilityTest|DiskCardTest)\.'
  fi
  (cd "$build" && cpack >/dev/null)
  for tarball in "$build"/*.tar.gz; do
    echo "$(basename "$tarball"):" $(tar -tzf "$tarball" | grep -v '/$')
  done
done
