#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the Debian mirror that apt on this machine uses for its own release
# (named by its codename, or else by a suite such as "stable"), read from
# apt's sources alone; for mmdebstrap, which makes the sysroots and the
# emulated device's root from it.
set -euo pipefail
. /etc/os-release
mirror=$(apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
  awk -v release="${VERSION_CODENAME:-}" '
    $2 == release { exact = $1 }
    $2 !~ /-/ && !other { other = $1 }
    END { print exact ? exact : other }')
[ -n "$mirror" ] || { echo "debian-mirror.sh: apt has no source for ${VERSION_CODENAME:-this release}" >&2; exit 1; }
echo "$mirror"
