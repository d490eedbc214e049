#!/usr/bin/env bash
# Builds with gcov's counters (the coverage preset, in build-coverage/), runs
# the whole suite, and reports the line and branch coverage of cli/,
# registration/ and standin/ with gcovr: a table on standard output, and
# HTML pages in build-coverage/coverage/index.html. It fails when the
# coverage falls below the floors below, which only ever rise.
#   scripts/coverage.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# The figures of the suite as it stands, less a point for what a loaded
# machine's timing moves (which kill lands mid-write, say).
line_floor=93
branch_floor=73

"$top/scripts/install-deps.sh" build test coverage
# shellcheck source=x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
cd "$top"
find build-coverage -name '*.gcda' -delete 2>/dev/null || true
cmake --workflow --preset coverage
mkdir -p build-coverage/coverage
report=(gcovr --root . --object-directory build-coverage --exclude-throw-branches
  --exclude-unreachable-branches --exclude-directories 'build-coverage/CMakeFiles/[0-9]'
  --filter 'cli/' --filter 'registration/'
  --filter 'standin/')
"${report[@]}" --branches build-coverage
"${report[@]}" --html-details build-coverage/coverage/index.html \
  --fail-under-line "$line_floor" --fail-under-branch "$branch_floor" build-coverage ||
  { echo "coverage below the floor: lines $line_floor %, branches $branch_floor %" >&2; exit 1; }
"${report[@]}" build-coverage | tail -n 2
