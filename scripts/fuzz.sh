#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the open path's fuzz target with clang's libFuzzer and the
# sanitizers (the fuzz preset, in build-fuzz/), replays its committed seeds
# (tests/fuzz/seeds) as CTest does, then fuzzes for SECONDS (120 when not
# given) from a copy of them. A finding is written to build-fuzz/findings/
# and fails the run; once fixed, add it to the seeds. The target mounts a
# card of its own in a private mount namespace (in a user namespace that
# maps root, for an ordinary user).
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-120}
"$top/scripts/install-deps.sh" build test fuzz
cd "$top"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz
corpus=build-fuzz/corpus findings=build-fuzz/findings
rm -rf "$corpus"
mkdir -p "$corpus" "$findings"
cp tests/fuzz/seeds/* "$corpus/"
# Standard error is closed for the target (the stand-in tells every refusal
# there); libFuzzer and the sanitizers still report.
build-fuzz/tests/open_path_fuzzer -max_total_time="$seconds" -timeout=60 -rss_limit_mb=1024 \
  -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus"
