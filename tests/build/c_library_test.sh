#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# cmake/c-library.cmake's probe on a C library's own macros, a row each: a
# configure whose <features.h> is that library's says which glibc version
# it is, or "none" for another C library.
#   c_library_test.sh SOURCE
set -euo pipefail
source_dir=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.18...3.31)
project(probe C)
include("$source_dir/cmake/c-library.cmake")
vorn_glibc_version(version)
message(STATUS "probed: \${version}")
EOF

# name | what its features.h defines | what the probe gives
rows=(
  "glibc 2.31|#define __GLIBC__ 2\n#define __GLIBC_MINOR__ 31|2.31"
  "glibc 2.4|#define __GLIBC__ 2\n#define __GLIBC_MINOR__ 4|2.4"
  "uClibc-ng, which calls itself glibc 2.2|#define __GLIBC__ 2\n#define __GLIBC_MINOR__ 2\n#define __UCLIBC__ 1|none"
  "musl, which defines no glibc|#define _FEATURES_H|none"
)
failures=0
for row in "${rows[@]}"; do
  IFS='|' read -r name defines expected <<<"$row"
  rm -rf "$work/include" "$work/build"
  mkdir "$work/include"
  printf '%b\n' "$defines" >"$work/include/features.h"
  probed=$(cmake -S "$work" -B "$work/build" -DCMAKE_C_FLAGS="-nostdinc -isystem $work/include" 2>&1 |
    sed -n 's/^-- probed: //p')
  if [ "$probed" != "$expected" ]; then
    echo "FAIL: $name: the probe gave \"$probed\", not \"$expected\""
    failures=$((failures + 1))
  else
    echo "ok: $name: $expected"
  fi
done
exit "$failures"
