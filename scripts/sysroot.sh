#!/usr/bin/env bash
# Prints the path of a Debian sysroot for the architecture ARCH (armhf,
# arm64 or armel), of the oldest Debian release that the machine's configured
# Debian mirror still serves (or of the newest known one, with "newest"), with
# the libraries that vorn and its tests build against. It is made with
# mmdebstrap the first time and cached:
#   scripts/sysroot.sh ARCH [oldest|newest]
# The cache is $VORN_SYSROOT_CACHE (by default /var/cache/vorn-sysroots for
# root, and ~/.cache/vorn-sysroots for an ordinary user, who makes it in a
# user namespace of subordinate ids); one folder per release, architecture
# and package list. Progress goes to standard error, the path alone to
# standard output. A run that fails leaves nothing in the cache.
set -euo pipefail
usage="usage: scripts/sysroot.sh armhf|arm64|armel [oldest|newest]"
arch=${1:?$usage}
age=${2:-oldest}
"$(dirname "$0")/triplet.sh" "$arch" >/dev/null
# shellcheck source=root-cache.sh
. "$(dirname "$0")/root-cache.sh"

mirror=$("$(dirname "$0")/debian-mirror.sh")

# Releases from the oldest that a Debian mirror may still serve, with the
# GCC whose C++ library each ships.
case "$age" in
  oldest) candidates="buster:8 bullseye:10 bookworm:12" ;;
  newest) candidates="bookworm:12 bullseye:10 buster:8" ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
release=
for candidate in $candidates; do
  if curl -fsSI --max-time 30 -o /dev/null "${mirror%/}/dists/${candidate%:*}/Release" 2>/dev/null; then
    release=$candidate
    break
  fi
done
[ -n "$release" ] || { echo "sysroot.sh: $mirror serves none of the known releases" >&2; exit 1; }
codename=${release%:*} gcc=${release#*:}

packages="libc6-dev,libgtk2.0-dev,libglib2.0-dev,libsqlite3-dev,libgtest-dev,libgmock-dev,libstdc++-$gcc-dev,libgcc-$gcc-dev"
# The layout version changes when what is done to a new sysroot changes.
key=$(printf '%s' "relative-links $codename $arch $packages" | sha256sum | cut -c1-12)
root=$cache/$codename-$arch-$key
if [ ! -e "$root/.complete" ]; then
  user=$(id -un)
  if [ "$mode" = unshare ] && ! { grep -q "^$user:" /etc/subuid 2>/dev/null &&
    grep -q "^$user:" /etc/subgid 2>/dev/null && command -v newuidmap >/dev/null; }; then
    echo "sysroot.sh: as an ordinary user, the $codename $arch sysroot is made in a user" \
      "namespace, which needs subordinate ids for $user in /etc/subuid and /etc/subgid" \
      "and newuidmap. As root, either give them (apt-get install uidmap; usermod" \
      "--add-subuids 100000-165535 --add-subgids 100000-165535 $user), or make the sysroot" \
      "for everyone (scripts/sysroot.sh $arch $age, cached in /var/cache/vorn-sysroots) and" \
      "run this with VORN_SYSROOT_CACHE=/var/cache/vorn-sysroots" >&2
    exit 1
  fi
  echo "Making the $codename $arch sysroot in $root from $mirror" >&2
  mkdir -p "$cache"
  # Made in a folder of its own and moved into place when complete. What an
  # ordinary user's run leaves may belong to subordinate ids: it is removed
  # in the same kind of namespace.
  partial=$(mktemp -d "$root.partial.XXXXXX")
  remove_partial() {
    rm -rf "$partial" 2>/dev/null || unshare --map-auto --map-root-user rm -rf "$partial"
  }
  trap remove_partial EXIT
  # Links that name absolute paths (libpthread.so, for one) would lead the
  # linker to the build machine's own libraries: they are made relative, in
  # mmdebstrap's own namespace, where the files are root's. The mark of a
  # complete sysroot is made last.
  relative_links=$(
    cat <<'HOOK'
find "$1" -type l -lname '/*' -exec sh -c 'for link; do
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$0$(readlink "$link")")" "$link"
done' "$1" {} + && chmod 755 "$1" && touch "$1/.complete"
HOOK
  )
  mmdebstrap --quiet --mode="$mode" --variant=extract --architectures="$arch" --include="$packages" \
    --extract-hook="$relative_links" "$codename" "$partial" "$mirror" >&2
  [ -e "$partial/.complete" ] || { echo "sysroot.sh: mmdebstrap did not finish the sysroot" >&2; exit 1; }
  rm -rf "$root"
  mv "$partial" "$root"
  trap - EXIT
fi
echo "$root"
