#!/usr/bin/env bash
# Builds vorn for the device and runs the whole test suite under qemu-user:
#   scripts/cross-test.sh [armhf|arm64]      (armhf when not given)
# Installs the cross tools and the target's libraries, configures with the
# toolchain file in cmake/ for the prefix the device uses (/usr), builds,
# starts an X server when none is there, runs CTest and packs the tarball.
# The build directory is build-ARCH/, or $VORN_BUILD_DIR.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-armhf}
triplet=$("$top/scripts/triplet.sh" "$arch")
build=${VORN_BUILD_DIR:-$top/build-$arch}

"$top/scripts/install-deps.sh" build test "cross:$arch"
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$triplet.cmake" \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_TESTING=ON -DVORN_WERROR=ON
cmake --build "$build" -j "$(nproc)"
file "$build/cli/vorn"

# shellcheck source=x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
(cd "$build" && cpack)
