#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Prints the path of a Debian sysroot for the architecture ARCH (armhf,
# arm64 or armel), of the oldest Debian release that the machine's configured
# Debian mirror still serves (or of the newest known one, with "newest", or
# of the release named), with the libraries that vorn and its tests build
# against. It is made with mmdebstrap the first time and cached:
#   scripts/sysroot.sh ARCH [oldest|newest|bullseye|bookworm|trixie]
# The cache is $VORN_SYSROOT_CACHE (by default /var/cache/vorn-sysroots for
# root, and ~/.cache/vorn-sysroots for an ordinary user, who makes it in a
# user namespace of subordinate ids); one folder per release, architecture
# and package list. Progress goes to standard error, the path alone to
# standard output. A run that fails leaves nothing in the cache.
set -euo pipefail
usage="usage: scripts/sysroot.sh armhf|arm64|armel [oldest|newest|bullseye|bookworm|trixie]"
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
  bullseye) candidates="bullseye:10" ;;
  bookworm) candidates="bookworm:12" ;;
  trixie) candidates="trixie:14" ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
release=
for candidate in $candidates; do
  if curl -fsSI --max-time 30 -o /dev/null "${mirror%/}/dists/${candidate%:*}/Release" 2>/dev/null; then
    release=$candidate
    break
  fi
done
[ -n "$release" ] || { echo "sysroot.sh: $mirror serves none of: $candidates" >&2; exit 1; }
codename=${release%:*} gcc=${release#*:}

packages="libc6-dev,libgtk2.0-dev,libglib2.0-dev,libsqlite3-dev,libgtest-dev,libgmock-dev,libstdc++-$gcc-dev,libgcc-$gcc-dev"
# The layout version changes when what is done to a new sysroot changes.
key=$(printf '%s' "relative-links $codename $arch $packages" | sha256sum | cut -c1-12)
root=$cache/$codename-$arch-$key
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
make_root "$root" "the $codename $arch sysroot" "$codename" "$mirror" --variant=extract \
  --architectures="$arch" --include="$packages" --extract-hook="$relative_links"
echo "$root"
