#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command on a fresh private card, changing nothing on the host:
#   scripts/private-card.sh BUILD COMMAND [ARGS...]
# COMMAND runs as root of a mount namespace of its own (in a user namespace
# that maps root, when not run as root), with a tmpfs over /media and an
# empty tmpfs mounted at the media root as the card. Its environment names
# the card (VORN_CARD) and the stand-in's database file on it
# (VORN_DATABASE), as card.env in the build folder BUILD gives them.
set -euo pipefail
names=${1:?usage: scripts/private-card.sh BUILD COMMAND [ARGS...]}/card.env
shift
[ -r "$names" ] || { echo "private-card.sh: no $names: configure that build first" >&2; exit 1; }
# shellcheck source=/dev/null
. "$names"
map_root=()
[ "$(id -u)" -eq 0 ] || map_root=(--map-root-user)
exec unshare --mount "${map_root[@]}" env VORN_CARD="$VORN_CARD" VORN_DATABASE="$VORN_DATABASE" bash -euc '
  mount --make-rprivate /
  mount -t tmpfs media /media
  mkdir -p "$VORN_CARD"
  mount -t tmpfs card "$VORN_CARD"
  exec "$@"' private-card "$@"
