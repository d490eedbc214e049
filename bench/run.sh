#!/usr/bin/env bash
# Benchmarks vorn against its floor and the sqlite3 shell, and prints the
# tables (Markdown) to standard output:
#   bench/run.sh           every database size up to 1 000 000 entries
#   bench/run.sh --smoke   small sizes and few runs, to keep the harness working
# Builds in Release in build-bench/ (or $VORN_BUILD_DIR), where the generated
# databases are cached between runs. The cards are mounted in a private
# mount namespace (scripts/private-card.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VORN_BUILD_DIR:-$top/build-bench}

"$top/scripts/install-deps.sh" build bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target vorn vorn_floor vorn_bench >/dev/null

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
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")

"$top/scripts/private-card.sh" env LIBDIR="$stage$prefix/$libdir" CACHE="$build/bench-ld.so.cache" \
  bash -euc 'ldconfig -X -C "$CACHE" "$LIBDIR" && mount --bind "$CACHE" /etc/ld.so.cache && exec "$@"' _ \
  "$build/bench/vorn_bench" --vorn "$stage$prefix/bin/vorn" --floor "$build/bench/vorn_floor" \
  --cache "$build/bench-cache" --disk "$build/bench-disk" "$@"
