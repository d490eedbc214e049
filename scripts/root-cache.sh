# SPDX-License-Identifier: MIT
# Sourced by sysroot.sh, build-host.sh and device-vm.sh: where the roots that
# mmdebstrap makes are cached ($cache), and its mode ($mode):
# /var/cache/vorn-sysroots for root, ~/.cache/vorn-sysroots in a user
# namespace for an ordinary user, or $VORN_SYSROOT_CACHE.
if [ "$(id -u)" -eq 0 ]; then
  cache=${VORN_SYSROOT_CACHE:-/var/cache/vorn-sysroots}
  mode=root
else
  cache=${VORN_SYSROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vorn-sysroots}
  mode=unshare
fi

# make_root ROOT WHAT SUITE MIRROR MMDEBSTRAP-OPTIONS...: makes ROOT (WHAT
# names it) of SUITE from MIRROR with mmdebstrap and the options, unless it
# is there and complete. The options' last hook marks it complete
# (ROOT/.complete). It is made in a folder of its own and moved into place
# when complete, so that a run that fails leaves nothing in the cache; what an
# ordinary user's run leaves may belong to subordinate ids, and is removed in
# the same kind of namespace.
make_root() {
  local root=$1 what=$2 suite=$3 mirror=$4 user
  shift 4
  [ ! -e "$root/.complete" ] || return 0
  user=$(id -un)
  if [ "$mode" = unshare ] && ! { grep -q "^$user:" /etc/subuid 2>/dev/null &&
    grep -q "^$user:" /etc/subgid 2>/dev/null && command -v newuidmap >/dev/null; }; then
    echo "as an ordinary user, $what is made in a user namespace, which needs" \
      "subordinate ids for $user in /etc/subuid and /etc/subgid and newuidmap. As root," \
      "either give them (apt-get install uidmap; usermod --add-subuids 100000-165535" \
      "--add-subgids 100000-165535 $user), or run the same command as root (the root is" \
      "cached in /var/cache/vorn-sysroots) and this one with" \
      "VORN_SYSROOT_CACHE=/var/cache/vorn-sysroots" >&2
    exit 1
  fi
  echo "Making $what in $root" >&2
  mkdir -p "$cache"
  partial=$(mktemp -d "$root.partial.XXXXXX")
  trap 'rm -rf "$partial" 2>/dev/null || unshare --map-auto --map-root-user rm -rf "$partial"' EXIT
  mmdebstrap --quiet --mode="$mode" "$@" "$suite" "$partial" "$mirror" >&2
  [ -e "$partial/.complete" ] || { echo "mmdebstrap did not finish $what" >&2; exit 1; }
  rm -rf "$root"
  mv "$partial" "$root"
  trap - EXIT
}
