#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cards pulled mid-write, on the emulated device (scripts/device-vm.sh):
#   tests/device/pulled_card_test.sh fat32|exfat PULLS
# Each boot adds and changes entries on one card, logging each run's start
# and status on the console, and the board is reset at once, with nothing
# written back (sysrq's "b"), as a pulled card stops a device: in a random
# run, held by strace before it deletes its journal, so that the reset
# lands while the journal is on the card. (A kill from here, or one timed
# by the journal's appearance, landed after the commit every time.)
# After each pull, the card's file system is checked here (fsck, read-only;
# a dirty flag is expected), and on FAT32 the database is read out of the
# image with mtools and checked with and without its journal. The next boot
# checks it there too, runs vorn once more and looks up every entry whose run
# ended with 0. Fails on an entry lost, a damaged database or a next run
# that does not end with 0.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
card=/media/mmcblk0p1
database=$card/.zerovora-global.db

integrity() { sqlite3 "$1" 'PRAGMA integrity_check' 2>&1 | head -n 1; }

# In the guest: GUEST BOOT RUN DELAY [NAME TITLES]... where the board is
# reset DELAY seconds after the RUN-th run's journal appears (never for 0),
# and TITLES
# are the titles that NAME may hold, separated by "|" (an empty one: it may
# be absent).
if [ "${1:-}" = guest ]; then
  boot=$2 journals=$3 delay=$4
  shift 4
  if [ -e "$database" ]; then
    mkdir /tmp/with /tmp/without
    cp "$database" /tmp/with/db
    cp "$database" /tmp/without/db
    if [ -e "$database-journal" ]; then
      cp "$database-journal" /tmp/with/db-journal
      echo "pulled: a journal was left"
    fi
    echo "pulled: guest integrity with the journal: $(integrity /tmp/with/db)"
    echo "pulled: guest integrity without it: $(integrity /tmp/without/db)"
  fi
  echo x >"$card/next-$boot"
  status=0
  vorn "$card/next-$boot" t a g >/dev/null || status=$?
  echo "pulled: next run $status"
  lost=0 checked=0
  while [ $# -gt 0 ]; do
    got=$(sqlite3 -readonly "$database" "SELECT title FROM files WHERE name = '$1'")
    case "|$2|" in *"|$got|"*) ;; *) echo "pulled: lost $1: it holds '$got', not one of '$2'"; lost=$((lost + 1)) ;; esac
    checked=$((checked + 1))
    shift 2
  done
  echo "pulled: $checked entries looked up, $lost lost"
  [ "$journals" -gt 0 ] || exit 0
  for i in $(seq 1 200); do
    if [ $((i % 2)) = 1 ]; then
      name=b$boot-$i title=t$i
      echo "$i" >"$card/$name"
    else
      name=b$boot-$((i - 1)) title=c$i
    fi
    echo "pulled: start $name $title"
    status=0
    if [ "$i" -eq "$journals" ]; then
      # This run's journal stays on the card for 3 s after the commit's
      # last write, and the board is reset then.
      (while [ ! -e "$database-journal" ]; do sleep 0.05; done
        sleep "$delay"
        echo b >/proc/sysrq-trigger) &
      strace -f -qq -o /dev/null -e trace=unlink,unlinkat \
        -e inject=unlink,unlinkat:delay_enter=3000000 \
        vorn "$card/$name" "$title" a g >/dev/null 2>&1 || status=$?
    else
      vorn "$card/$name" "$title" a g >/dev/null 2>&1 || status=$?
    fi
    echo "pulled: end $name $title $status"
  done
  exit 0
fi

format=${1:?usage: tests/device/pulled_card_test.sh fat32|exfat PULLS}
kills=${2:?usage: tests/device/pulled_card_test.sh fat32|exfat PULLS}
work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-pulled.XXXXXX")
trap 'rm -rf "$work"' EXIT
image=$work/card.img
VORN_VM_FORMAT_ONLY=1 "$top/scripts/device-vm.sh" "$format:$image" >/dev/null

declare -A titles
ended=0 lost=0 damaged=0 failed=0 left=0
for boot in $(seq 1 $((kills + 1))); do
  write=$([ "$boot" -le "$kills" ] && echo 1 || echo 0)
  journals=$([ "$write" = 1 ] && echo $((RANDOM % 5 + 2)) || echo 0)
  args=(guest "$boot" "$journals" "0.$((RANDOM % 10))")
  for name in "${!titles[@]}"; do args+=("$name" "${titles[$name]}"); done
  log=$work/boot-$boot.log
  "$top/scripts/device-vm.sh" "$image" -- "$top/tests/device/pulled_card_test.sh" "${args[@]}" >"$log" 2>&1 &
  vm=$!
  # A boot that would run on without a reset is killed after 10 minutes.
  for _ in $(seq 600); do
    kill -0 "$vm" 2>/dev/null || break
    sleep 1
  done
  kill -TERM "$vm" 2>/dev/null || true
  wait "$vm" || true
  grep '^pulled: \(a journal\|guest integrity\|[0-9]* entries\|lost\)' "$log" | sed "s/^/boot $boot: /" || true
  grep -q '^pulled: next run 0$' "$log" || { echo "boot $boot: the next run failed"; failed=$((failed + 1)); }
  lost=$((lost + $(grep -c '^pulled: lost ' "$log" || true)))
  left=$((left + $(grep -c '^pulled: a journal was left' "$log" || true)))
  damaged=$((damaged + $(grep '^pulled: guest integrity with' "$log" | grep -vc ': ok$' || true)))
  # What each name may hold now: the title of its last run that ended with
  # 0, or that of a run the pull cut short, or what it held before that.
  while read -r _ what name title status; do
    if [ "$what" = start ]; then
      pending=$name pending_title=$title
    elif [ "$status" = 0 ]; then
      titles[$name]=$title
      ended=$((ended + 1))
      pending=
    else
      pending=
    fi
  done < <(grep '^pulled: \(start\|end\) ' "$log")
  if [ "$write" = 1 ] && [ -n "${pending:-}" ]; then
    titles[$pending]="${titles[$pending]-}|$pending_title"
  fi
  [ "$write" = 1 ] || continue

  # The card as the pull left it, read here without any kernel's driver.
  dd if="$image" of="$work/part.img" bs=1M skip=1 status=none
  if [ "$format" = fat32 ]; then
    said=$(fsck.fat -n "$work/part.img" 2>&1 | tail -n +2 | tr '\n' ' ') || true
    rm -rf "$work/with" "$work/without"
    mkdir "$work/with" "$work/without"
    MTOOLS_SKIP_CHECK=1 mcopy -n -i "$work/part.img" "::/.zerovora-global.db" "$work/with/db"
    cp "$work/with/db" "$work/without/db"
    MTOOLS_SKIP_CHECK=1 mcopy -n -i "$work/part.img" "::/.zerovora-global.db-journal" \
      "$work/with/db-journal" 2>/dev/null || true
    with=$(integrity "$work/with/db") without=$(integrity "$work/without/db")
    echo "boot $boot: read out with mtools: integrity with the journal: $with; without it: $without"
    [ "$with" = ok ] || damaged=$((damaged + 1))
  else
    said=$(fsck.exfat -n "$work/part.img" 2>&1 | tail -n +2 | tr '\n' ' ') || true
  fi
  echo "boot $boot: fsck: ${said:-nothing}"
done
echo "pulled $format cards: $kills pulls ($left left a journal), $ended runs ended with 0, $lost entries lost," \
  "$damaged damaged databases, $failed next runs failed"
[ $((lost + damaged + failed)) -eq 0 ]
