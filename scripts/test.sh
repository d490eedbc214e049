#!/usr/bin/env bash
# Runs the whole test suite: installs what the tests need, builds, starts an
# X server when none is there, and runs CTest.
# The build directory is build/, or $VORN_BUILD_DIR.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VORN_BUILD_DIR:-$top/build}

"$top/scripts/install-deps.sh" build test
cmake -S "$top" -B "$build" -DBUILD_TESTING=ON -DVORN_WERROR=ON
cmake --build "$build" -j "$(nproc)"

# shellcheck source=x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
