#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds with gcov's counters (the coverage preset, in build-coverage/), runs
# the whole suite, and reports the line and branch coverage of cli/,
# registration/ and standin/ with gcovr: a table on standard output, and
# HTML pages in build-coverage/coverage/index.html. It fails when the
# coverage falls below the floors below, which only ever rise.
#   scripts/coverage.sh
#   scripts/coverage.sh --floor SUMMARY   only checks gcovr's JSON summary
#                                          against the deciding files' floor
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# Every branch of the code that decides what the library and vorn may
# touch, and 95 % of lines and branches overall. A branch that can't be
# reached carries GCOVR_EXCL_BR_LINE (or _START and _STOP) and its reason.
line_floor=95
branch_floor=95
deciding=(cli/exit_status.h cli/main.cpp cli/toolkit_arguments.cpp registration/set_file_metadata.cpp
  standin/card.cpp standin/card_vfs.cpp standin/database_file.cpp standin/file_judgement.cpp)
# Fails unless the summary $1 holds every deciding file with every branch
# covered.
deciding_floor() {
  python3 - "$1" "${deciding[@]}" <<'PY'
import json, sys
files = {f["filename"]: f for f in json.load(open(sys.argv[1]))["files"]}
short = [f"{name} {files[name]['branch_covered']}/{files[name]['branch_total']}"
         if name in files else f"{name} (not in the report)"
         for name in sys.argv[2:]
         if name not in files or files[name]["branch_covered"] < files[name]["branch_total"]]
if short:
    sys.exit("branches left uncovered in the deciding code: " + ", ".join(short))
print("every branch of the deciding code covered")
PY
}
if [ "${1:-}" = --floor ]; then
  deciding_floor "${2:?usage: scripts/coverage.sh --floor SUMMARY}"
  exit
fi

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
"${report[@]}" --json-summary build-coverage/coverage/summary.json build-coverage
deciding_floor build-coverage/coverage/summary.json
