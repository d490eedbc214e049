#!/usr/bin/env bash
# Runs a command on a fresh private card, changing nothing on the host:
#   scripts/private-card.sh COMMAND [ARGS...]
# COMMAND runs as root of a mount namespace of its own (in a user namespace
# that maps root, when not run as root), with a tmpfs over /media and an
# empty tmpfs mounted at the media root as the card. Its environment names
# the card (VORN_CARD) and the stand-in's database file on it
# (VORN_DATABASE), as the code that uses them defines them.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
constant() {
  sed -n "s/^inline constexpr const char \*$1 = \"\(.*\)\";$/\1/p" "$top/$2"
}
card=$(constant kMediaRoot registration/set_file_metadata.h)
name=$(constant kDatabaseFileName standin/card.h)
[ -n "$card" ] && [ -n "$name" ] || { echo "private-card.sh: the card's names are not found" >&2; exit 1; }
map_root=()
[ "$(id -u)" -eq 0 ] || map_root=(--map-root-user)
exec unshare --mount "${map_root[@]}" env VORN_CARD="$card" VORN_DATABASE="$card/$name" bash -euc '
  mount --make-rprivate /
  mount -t tmpfs media /media
  mkdir -p "$VORN_CARD"
  mount -t tmpfs card "$VORN_CARD"
  exec "$@"' private-card "$@"
