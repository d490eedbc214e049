#!/usr/bin/env bash
# The main job: builds vorn and runs it on a sample file on a scratch card,
# once to add the file and once to change it, then shows the stored entry
# with the sqlite3 shell. The card is a tmpfs mounted at the media root in a
# private mount namespace, so nothing on the host changes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${VORN_BUILD_DIR:-$top/build}

"$top/scripts/install-deps.sh" build demo
cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target vorn >/dev/null

# shellcheck source=x-server.sh
. "$top/scripts/x-server.sh"
ensure_x_server

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
unshare --mount "${as_root[@]}" env VORN="$build/cli/vorn" bash -euo pipefail -c '
  mount --make-rprivate /
  mount -t tmpfs scratch-card /media
  card=/media/mmcblk0p1
  mkdir "$card"
  mount -t tmpfs scratch-card "$card"
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

  printf "\$ sqlite3 -header -column %s/.zerovora-global.db \"SELECT * FROM files\"\n" "$card"
  sqlite3 -header -column "$card/.zerovora-global.db" "SELECT * FROM files"
'
