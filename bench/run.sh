#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Benchmarks vorn against its floor and the sqlite3 shell, and prints the
# tables (Markdown) to standard output:
#   bench/run.sh           every database size up to 1 000 000 entries
#   bench/run.sh --smoke   small sizes and few runs, to keep the harness working
# Builds in Release in build-bench/ (the preset "bench"), where the generated
# databases are cached between runs. The cards are mounted in a private
# mount namespace (scripts/private-card.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build-bench

"$top/scripts/install-deps.sh" build bench
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
(cd "$top" && cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null)

# shellcheck source=../scripts/x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server

# What is timed is vorn as installed: staged without a RUNPATH, it finds
# libzerovora through the loader's cache, like every other library, as on
# the device. The cache that knows the staged library is bound over the
# system's only inside the benchmark's private mount namespace.
stage=$build/bench-stage
rm -rf "$stage"
DESTDIR=$stage cmake --install "$build" >/dev/null
vorn=$(find "$stage" -path '*/bin/vorn')
libdir=$(dirname "$(find "$stage" -name libzerovora.so.0)")

"$top/scripts/private-card.sh" "$build" env LIBDIR="$libdir" CACHE="$build/bench-ld.so.cache" \
  bash -euc 'ldconfig -X -C "$CACHE" "$LIBDIR" && mount --bind "$CACHE" /etc/ld.so.cache && exec "$@"' _ \
  "$build/bench/vorn_bench" --vorn "$vorn" --floor "$build/bench/vorn_floor" \
  --cache "$build/bench-cache" --disk "$build/bench-disk" "$@"
