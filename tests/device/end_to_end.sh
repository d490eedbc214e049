#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The end-to-end tests of the armhf build on the emulated device's SD card,
# formatted anew as FORMAT (fat32 or exfat) for each test, with the FAT
# card's own cases; run in the guest by scripts/device-vm.sh:
#   scripts/device-vm.sh FORMAT -- tests/device/end_to_end.sh FORMAT
# Left to the host's runs, as too slow under full emulation: the system-call
# sweep (strace on every call), the writers killed mid-write (the pulled-card
# series stands for them here) and the 32 runs at once (16 here).
set -euo pipefail
format=${1:?usage: tests/device/end_to_end.sh fat32|exfat}
tests=$(cd "$(dirname "$0")/../.." && pwd)/build-device-armhf/tests
# Each test formats and mounts the card itself.
umount /media/mmcblk0p1
export VORN_TEST_CARD=$format:/dev/mmcblk0p1
# The tests take two minutes or so; a run still going after ten is shown:
# the kernel's stack of each task stuck in it (state D), and the kernel's
# list of blocked tasks, on the console.
(
  sleep 600
  echo "end_to_end.sh: still running after 600 s; tasks in state D:"
  for task in /proc/[0-9]*; do
    grep -q '^State:.*D' "$task/status" 2>/dev/null || continue
    echo "${task#/proc/}: $(tr '\0' ' ' <"$task/cmdline")"
    cat "$task/stack"
  done
  dmesg -n 7
  echo w >/proc/sysrq-trigger
) &
watchdog=$!
status=0
timeout 1200 "$tests/vorn_tests" --gtest_color=no --gtest_filter='VornTest.*' || status=1
timeout 1800 "$tests/reliability_tests" \
  --gtest_color=no --gtest_filter="-SweepTest.*:DiskCardTest.*:*RunsAtOnce*" || status=1
kill "$watchdog"
exit "$status"
