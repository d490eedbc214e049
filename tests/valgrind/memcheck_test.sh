#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs vorn under valgrind's memcheck on every path: add, change, no media
# root, a missing file (and one whose every byte its line escapes) and the
# usage message. Any error, and any block left
# allocated at the end (even one still reachable), fails the test, except
# what the toolkit keeps from its start-up (toolkit.supp) and the stand-in's
# private C++ runtime's exception pool (standin.supp).
#
# Arguments: the build folder, the vorn binary, and "cross" for a cross
# build (valgrind does not run under qemu-user: the test is skipped) or
# "native".
set -euo pipefail
build=$1 vorn=$2 build_kind=$3
if [ "$build_kind" = cross ]; then
  echo "skipped: valgrind can't run a binary under qemu-user emulation"
  exit 77
fi
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../../scripts/private-card.sh" "$build" env VORN="$vorn" SUPPRESSIONS="$here/toolkit.supp" \
  STANDIN_SUPPRESSIONS="$here/standin.supp" bash -euo pipefail -c '
  card=$VORN_CARD
  printf 12345 >"$card/book"
  failures=0

  # check NAME STATUS ARGS...: runs vorn under memcheck and expects STATUS.
  check() {
    local name=$1 expected=$2 status=0
    shift 2
    valgrind --quiet --error-exitcode=97 --leak-check=full --show-leak-kinds=all \
      --errors-for-leak-kinds=all --suppressions="$SUPPRESSIONS" \
      --suppressions="$STANDIN_SUPPRESSIONS" --num-callers=30 \
      --log-file="/tmp/memcheck-$$-$name.log" "$VORN" "$@" >"/tmp/memcheck-$$-$name.out" 2>&1 ||
      status=$?
    if [ "$status" -ne "$expected" ]; then
      echo "FAIL: $name ended with $status, not $expected; what vorn wrote:"
      cat "/tmp/memcheck-$$-$name.out"
      echo "valgrind'"'"'s report:"
      cat "/tmp/memcheck-$$-$name.log"
      failures=$((failures + 1))
    else
      echo "ok: $name (status $status, no error, nothing left but toolkit start-up memory)"
    fi
    rm -f "/tmp/memcheck-$$-$name.log" "/tmp/memcheck-$$-$name.out"
  }
  check add 0 "$card/book" t a g
  check change 0 "$card/book" T A G
  check missing-file 66 "$card/missing" t a g
  # A path as long as an argument may be, each byte of it escaped in the line.
  check escaped-path 66 "$(head -c 131071 /dev/zero | tr "\0" "\001")" t a g
  check usage 1 only two
  umount "$card"
  rmdir "$card"
  check no-media-root 255 /media/x t a g
  exit $failures
'
