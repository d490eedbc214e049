#!/usr/bin/env bash
# Stages the install under DESTDIR and packs it with cpack. The device's
# tarball holds exactly vorn and its man page; the stand-in's, when it is
# built, exactly its library, link, header and pkg-config file, and the
# staged tree is the two together. vorn needs libzerovora.so.0, no shared
# C++ runtime when it links its own, and carries no RUNPATH. On a native
# build, an install straight into the prefix (no DESTDIR, in a private mount
# namespace with the prefix and /etc made private copies) runs at once.
#
# Arguments: build dir, readelf, "stand-in" or "system", whether the C++
# runtime is linked in (ON or OFF), and "native" or "cross".
set -euo pipefail
build_dir=$1 readelf=$2 zerovora=$3 static_runtime=$4 build_kind=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
# A folder of the install, relative to / as in the tarballs.
place() {
  case $1 in
    /*) echo "${1#/}" ;;
    *) echo "${prefix#/}/$1" ;;
  esac
}
listing() { sort | sed 's|^\./||'; }
libdir=$(place "$(cache CMAKE_INSTALL_LIBDIR)")
includedir=$(place "$(cache CMAKE_INSTALL_INCLUDEDIR)")

device=("$(place bin)/vorn" "$(place share/man)/man1/vorn.1")
standin=()
[ "$zerovora" = system ] ||
  standin=("$libdir/libzerovora.so" "$libdir/libzerovora.so.0" "$libdir/libzerovora.so.0.1.0"
    "$libdir/pkgconfig/zerovora.pc" "$includedir/zerovora.h")

DESTDIR=$work/stage cmake --install "$build_dir" >/dev/null
diff <(printf '%s\n' "${device[@]}" "${standin[@]}" | listing) \
  <(cd "$work/stage" && find . -mindepth 1 ! -type d | listing) ||
  fail "the staged install holds other files"

dynamic=$("$readelf" -d "$work/stage/${device[0]}")
grep -q 'NEEDED.*\[libzerovora\.so\.0\]' <<<"$dynamic" || fail "vorn does not need libzerovora.so.0"
if [ "$static_runtime" = ON ]; then
  ! grep -q 'NEEDED.*libstdc++' <<<"$dynamic" || fail "vorn needs a shared libstdc++"
fi
! grep -q -E 'RUNPATH|RPATH' <<<"$dynamic" || fail "vorn carries a RUNPATH: $(grep PATH <<<"$dynamic")"

(cd "$build_dir" && cpack -B "$work/pack" >/dev/null)
check_tarball() {
  local pattern=$1
  shift
  local tarball
  tarball=$(find "$work/pack" -maxdepth 1 -name "$pattern")
  [ -n "$tarball" ] || fail "cpack made no $pattern"
  diff <(printf '%s\n' "$@" | listing) <(tar -tzf "$tarball" | grep -v '/$' | listing) ||
    fail "$(basename "$tarball") holds other files"
  echo "$(basename "$tarball"): $*"
}
check_tarball "vorn-*.tar.gz" "${device[@]}"
if [ "$zerovora" = system ]; then
  [ "$(find "$work/pack" -maxdepth 1 -name '*.tar.gz' | wc -l)" -eq 1 ] || fail "more than one tarball"
else
  check_tarball "zerovora-standin-for-hosts-only-*.tar.gz" "${standin[@]}"
fi

[ "$build_kind" = native ] && [ "$zerovora" = stand-in ] || exit 0
map_root=()
[ "$(id -u)" -eq 0 ] || map_root=(--map-root-user)
cp -a /etc "$work/etc" 2>/dev/null || true
unshare --mount "${map_root[@]}" env PREFIX="$prefix" BUILD="$build_dir" ETC="$work/etc" bash -euc '
  mount --make-rprivate /
  mkdir -p "$PREFIX"
  mount -t tmpfs prefix "$PREFIX"
  mount --bind "$ETC" /etc
  cmake --install "$BUILD" >/dev/null
  mount -t tmpfs card /media
  mkdir /media/mmcblk0p1
  mount -t tmpfs card /media/mmcblk0p1
  printf 12345 >/media/mmcblk0p1/f
  "$PREFIX/bin/vorn" /media/mmcblk0p1/f t a g >/dev/null
  test -s /media/mmcblk0p1/.zerovora-global.db' || fail "vorn installed into $prefix did not run"
echo "installed into $prefix without DESTDIR: vorn ran at once"
