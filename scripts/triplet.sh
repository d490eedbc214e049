#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the GNU triplet of a Debian ARM architecture: armhf, arm64 or armel.
case "${1:-}" in
  armhf) echo arm-linux-gnueabihf ;;
  arm64) echo aarch64-linux-gnu ;;
  armel) echo arm-linux-gnueabi ;;
  *) echo "unknown architecture '${1:-}': use armhf, arm64 or armel" >&2; exit 2 ;;
esac
