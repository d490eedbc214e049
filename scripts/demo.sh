#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job: builds vorn and runs it on a sample file on a scratch card,
# once to add the file and once to change it, then shows the stored entry
# with the sqlite3 shell. The card is a tmpfs mounted at the media root in a
# private mount namespace (scripts/private-card.sh), so nothing on the host
# changes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build-demo

"$top/scripts/install-deps.sh" build demo
# Only vorn and the stand-in are built (the preset "demo"): the tests, and
# what they need, are scripts/test.sh's.
(cd "$top" && cmake --preset demo >/dev/null && cmake --build --preset demo >/dev/null)

# shellcheck source=x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server

"$top/scripts/private-card.sh" "$build" env VORN="$build/bin/vorn" bash -euo pipefail -c '
  card=$VORN_CARD
  mkdir "$card/books"
  printf "The tide came in twice that day.\n" >"$card/books/salt-road.txt"

  run() {
    printf "\$ vorn"; printf " %q" "$@"; printf "\n"
    status=0
    "$VORN" "$@" || status=$?
    printf "exit status %d\n\n" "$status"
  }
  run "$card/books/salt-road.txt" "The Salt Road" "Mara Quell" novel
  run "$card/books/salt-road.txt" "The Salt Road, revised" "Mara Quell" classic

  printf "\$ sqlite3 -header -column %s \"SELECT * FROM files\"\n" "$VORN_DATABASE"
  sqlite3 -header -column "$VORN_DATABASE" "SELECT * FROM files"
'
