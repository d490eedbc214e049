#!/usr/bin/env bash
# Prints the GNU triplet of a Debian ARM architecture: armhf or arm64.
case "${1:-}" in
  armhf) echo arm-linux-gnueabihf ;;
  arm64) echo aarch64-linux-gnu ;;
  *) echo "unknown architecture '${1:-}': use armhf or arm64" >&2; exit 2 ;;
esac
