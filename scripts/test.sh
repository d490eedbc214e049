#!/usr/bin/env bash
# Runs the whole test suite: installs what the tests need, builds, starts an
# X server when none is there, and runs CTest.
#   scripts/test.sh            the release build, in build/
#   scripts/test.sh sanitize   with AddressSanitizer, LeakSanitizer and
#                              UndefinedBehaviorSanitizer, in build-sanitize/
# $VORN_BUILD_DIR names another build directory.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-release}
case "$mode" in
  release)
    build=${VORN_BUILD_DIR:-$top/build}
    options=(-DCMAKE_BUILD_TYPE=Release)
    ;;
  sanitize)
    build=${VORN_BUILD_DIR:-$top/build-sanitize}
    options=(-DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=ON)
    # Any report fails the test that saw it: the tests pass these options
    # on to the vorn they run, and compare its standard error byte for byte.
    export ASAN_OPTIONS=detect_leaks=1:exitcode=99
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    ;;
  *) echo "usage: scripts/test.sh [release|sanitize]" >&2; exit 2 ;;
esac

"$top/scripts/install-deps.sh" build test
cmake -S "$top" -B "$build" -DBUILD_TESTING=ON -DVORN_WERROR=ON "${options[@]}"
cmake --build "$build" -j "$(nproc)"

# shellcheck source=x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
