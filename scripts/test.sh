#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the whole test suite: installs what the tests need, starts an X
# server when none is there, and configures, builds and runs CTest through
# the workflow preset of that name (CMakePresets.json):
#   scripts/test.sh            the release build, in build/
#   scripts/test.sh sanitize   with AddressSanitizer, LeakSanitizer and
#                              UndefinedBehaviorSanitizer, in build-sanitize/
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-release}
case "$mode" in
  release | sanitize) ;;
  *) echo "usage: scripts/test.sh [release|sanitize]" >&2; exit 2 ;;
esac

"$top/scripts/install-deps.sh" build test
# shellcheck source=x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
cd "$top"
cmake --workflow --preset "$mode"
