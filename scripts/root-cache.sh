# Sourced by sysroot.sh and device-vm.sh: where the roots that mmdebstrap
# makes are cached ($cache), and its mode ($mode): /var/cache/vorn-sysroots
# for root, ~/.cache/vorn-sysroots in a user namespace for an ordinary user,
# or $VORN_SYSROOT_CACHE.
if [ "$(id -u)" -eq 0 ]; then
  cache=${VORN_SYSROOT_CACHE:-/var/cache/vorn-sysroots}
  mode=root
else
  cache=${VORN_SYSROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vorn-sysroots}
  mode=unshare
fi
