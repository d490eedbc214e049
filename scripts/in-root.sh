#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs a command in a root that scripts/build-host.sh made, as its root
# user, with folders of this machine shared into it and a /tmp of its own:
#   scripts/in-root.sh ROOT [--share DIR=PATH]... [--write DIR=PATH]... -- COMMAND [ARGS...]
# --share makes DIR of this machine readable at PATH in the root, --write
# writable; each PATH is under /tmp. The root itself is left as it was: the
# mounts live in a mount namespace of the command's own, and what the
# command writes to its /tmp goes when it ends. As an ordinary user, it runs
# in mmdebstrap's kind of user namespace, where the root's files are root's.
set -euo pipefail
usage="usage: scripts/in-root.sh ROOT [--share DIR=PATH]... [--write DIR=PATH]... -- COMMAND [ARGS...]"
root=${1:?$usage}
shift
mounts=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  case "$1" in
    --share | --write)
      [[ $# -ge 2 && $2 == *=/tmp/* ]] || { echo "$usage" >&2; exit 2; }
      mounts+=("$1" "$(realpath "${2%%=*}")" "${2#*=}")
      shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
[ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
shift
[ -e "$root/.complete" ] || { echo "in-root.sh: $root is no complete root" >&2; exit 1; }

# In the new namespaces: a tmpfs on the root's /tmp, the shares bound into
# it, the machine's /dev, a /proc of the new process namespace, then chroot.
inner=$(
  cat <<'INNER'
set -e
root=$1
shift
mount -t tmpfs -o mode=1777 root-tmp "$root/tmp"
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
while [ "$1" != -- ]; do
  mkdir -p "$root$3"
  mount --rbind "$2" "$root$3"
  [ "$1" = --write ] || mount -o remount,bind,ro "$root$3"
  shift 3
done
shift
exec chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/tmp \
  LANG=C.UTF-8 "$@"
INNER
)
exec mmdebstrap --unshare-helper unshare --mount --pid --fork --propagation private \
  sh -c "$inner" _ "$root" "${mounts[@]}" -- "$@"
