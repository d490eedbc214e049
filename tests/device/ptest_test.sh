#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The ptest package on the emulated device: the armhf build's vorn, its
# ptest component and the stand-in (in the place of the device's own
# library) are installed with DESTDIR into a root that the board copies
# over its own, and run-ptest runs there, on a scratch card of the device's
# kind (the board's SD card, formatted FORMAT). Every line must be a PASS,
# or a SKIP whose reason is one of those listed below.
#   tests/device/ptest_test.sh FORMAT     (fat32 or exfat)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
format=${1:?usage: tests/device/ptest_test.sh fat32|exfat}
build=$top/build-device-armhf

if [ "${2:-}" = --on-board ]; then
  cp -a "$build/board-root/." /
  VORN_PTEST_CARD=/dev/mmcblk0p1 VORN=/usr/bin/vorn /usr/lib/vorn/ptest/run-ptest >/tmp/ptest.out
  status=$?
  cat /tmp/ptest.out
  # SKIPs that a FAT or exFAT card brings.
  allowed="vorn.fifo: the card's file system holds no FIFO"
  unexpected=$(grep -v -e '^PASS: ' -e '^#' -e "^SKIP: $allowed\$" /tmp/ptest.out || true)
  [ "$status" -eq 0 ] && [ -z "$unexpected" ] || {
    echo "ptest_test.sh: run-ptest ended with $status; lines neither PASS nor an allowed SKIP:"
    echo "$unexpected"
    exit 1
  }
  echo "ptest_test.sh: $(grep -c '^PASS' /tmp/ptest.out) PASS, $(grep -c '^SKIP' /tmp/ptest.out) SKIP on $format"
  exit 0
fi

rm -rf "$build/board-root"
for component in vorn ptest standin; do
  DESTDIR=$build/board-root cmake --install "$build" --component "$component" >/dev/null
done
VORN_VM_LIMIT=${VORN_VM_LIMIT:-900} "$top/scripts/device-vm.sh" "$format" -- "$top/tests/device/ptest_test.sh" "$format" --on-board
