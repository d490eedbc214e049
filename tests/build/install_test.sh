#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Stages the install under DESTDIR and packs it with cpack. The device's
# tarball holds exactly vorn, its man page and the licence; the stand-in's,
# when it is built, exactly its library, link, header, pkg-config file and
# the licence. The staged tree is the two together in a native build, and
# the device's alone in a cross build, which stages the stand-in only when asked for it
# by name; the ptest component, when asked for, its two files alone. vorn
# needs libzerovora.so.0, no shared
# C++ runtime when it links its own, and carries no RUNPATH but in a native
# install outside /usr, where it has one relative to its own place; no ELF
# file of the build tree has a RUNPATH with an empty or relative element,
# which the loader would take from the working directory. Every tarball holds files and
# links only, owned by 0/0, with modes 0755 or 0644, dated SOURCE_DATE_EPOCH
# when it is set. On a native build: the
# release built by an ordinary user with umask 002 or 077 gives such a
# tarball too (vorn 0755, its man page 0644), and unpacked as root (GNU tar
# and busybox tar) over a root it leaves the folders there as they were,
# and builds nothing but vorn, the stand-in and the on-target tests; its
# install into /usr has no RUNPATH. An install straight into the prefix, or into /opt/vorn (no
# DESTDIR, in a private mount namespace with the prefix and /etc made
# private copies) runs at once, and so does one into /opt/vorn-long of a
# build for that prefix with a long multiarch library folder.
#
# Arguments: source dir, build dir, readelf, "stand-in" or "system", whether
# the C++ runtime is linked in (ON or OFF), "native" or "cross", and the
# install prefix, library folder and header folder (each relative to the
# prefix, or absolute).
set -euo pipefail
source_dir=$1 build_dir=$2 readelf=$3 zerovora=$4 static_runtime=$5 build_kind=$6
prefix=$7 libdir=$8 includedir=$9

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# A folder of the install, relative to / as in the tarballs.
place() {
  case $1 in
    /*) echo "${1#/}" ;;
    *) echo "${prefix#/}/$1" ;;
  esac
}
listing() { sort | sed 's|^\./||'; }
libdir=$(place "$libdir")
includedir=$(place "$includedir")

device=("$(place bin)/vorn" "$(place share/man)/man1/vorn.1" "$(place share/doc)/vorn/LICENSE")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
standin=()
[ "$zerovora" = system ] ||
  standin=("$libdir/libzerovora.so" "$libdir/libzerovora.so.0" "$libdir/libzerovora.so.$version"
    "$libdir/pkgconfig/zerovora.pc" "$includedir/zerovora.h" "$(place share/doc)/zerovora-standin/LICENSE")

while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file")" = $'\x7fELF' ] || continue
  runpath=$("$readelf" -d "$file" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]$/\2/p')
  [ -n "$runpath" ] || continue
  IFS=: read -r -a elements <<<"$runpath:"
  for element in "${elements[@]}"; do
    case $element in
      /* | '$ORIGIN' | '$ORIGIN/'*) ;;
      *) fail "$file has the RUNPATH $runpath, with an empty or relative element" ;;
    esac
  done
done < <(find "$build_dir" -type f ! -path '*/CMakeFiles/*' -print0)

# Checks that the tree at $1 holds exactly the files named after it.
check_tree() {
  local tree=$1
  shift
  diff <(printf '%s\n' "$@" | listing) <(cd "$tree" && find . -mindepth 1 ! -type d | listing) ||
    fail "the install staged in $tree holds other files"
}
DESTDIR=$work/stage cmake --install "$build_dir" >/dev/null
if [ "$build_kind" = cross ]; then
  check_tree "$work/stage" "${device[@]}"
  if [ ${#standin[@]} -gt 0 ]; then
    DESTDIR=$work/standin cmake --install "$build_dir" --component standin >/dev/null
    check_tree "$work/standin" "${standin[@]}"
  fi
else
  check_tree "$work/stage" "${device[@]}" "${standin[@]}"
fi

grep -q "^\.TH VORN 1 [0-9-]* \"vorn $version\" " "$work/stage/${device[1]}" ||
  fail "the installed man page does not name version $version: $(sed -n 2p "$work/stage/${device[1]}")"
dynamic=$("$readelf" -d "$work/stage/${device[0]}")
grep -q 'NEEDED.*\[libzerovora\.so\.0\]' <<<"$dynamic" || fail "vorn does not need libzerovora.so.0"
if [ "$static_runtime" = ON ]; then
  ! grep -q 'NEEDED.*libstdc++' <<<"$dynamic" || fail "vorn needs a shared libstdc++"
fi
# The RUNPATH of the vorn at $1 (none: empty).
runpath_of() {
  "$readelf" -d "$1" | sed -n 's/.*(R\(UN\)\?PATH).*\[\(.*\)\]$/\2/p'
}
expected=""
if [ "$build_kind" = native ] && [ "$zerovora" = stand-in ] && [ "$prefix" != /usr ]; then
  expected=\$ORIGIN/$(realpath -m --relative-to="/$(place bin)" "/$libdir")
fi
[ "$(runpath_of "$work/stage/${device[0]}")" = "$expected" ] ||
  fail "vorn's RUNPATH is '$(runpath_of "$work/stage/${device[0]}")', not '$expected'"

# The ptest component stages the on-target tests alone, the contract suite
# finding the library as vorn does.
ptest=("$libdir/vorn/ptest/run-ptest" "$libdir/vorn/ptest/zerovora-contract")
DESTDIR=$work/ptest cmake --install "$build_dir" --component ptest >/dev/null
check_tree "$work/ptest" "${ptest[@]}"
[ -z "$expected" ] || expected=\$ORIGIN/../..
[ "$(runpath_of "$work/ptest/${ptest[1]}")" = "$expected" ] ||
  fail "zerovora-contract's RUNPATH is '$(runpath_of "$work/ptest/${ptest[1]}")', not '$expected'"
echo "--component ptest: ${ptest[*]}"

(cd "$build_dir" && cpack -B "$work/pack" >/dev/null)
check_tarball() {
  local pattern=$1
  shift
  local tarball
  tarball=$(find "$work/pack" -maxdepth 1 -name "$pattern")
  [ -n "$tarball" ] || fail "cpack made no $pattern"
  diff <(printf '%s\n' "$@" | listing) <(tar -tzf "$tarball" | listing) ||
    fail "$(basename "$tarball") holds other files"
  check_entries "$tarball"
  echo "$(basename "$tarball"): $*"
}
# Owned by 0/0, with modes 0755 or 0644 (links aside), each entry of them.
check_entries() {
  local unsafe
  unsafe=$(tar -tvzf "$1" --numeric-owner |
    awk '$2 != "0/0" || $1 !~ /^(-rwxr-xr-x|-rw-r--r--|l.*)$/')
  [ -z "$unsafe" ] || fail "$(basename "$1") has entries not owned by 0/0 or not 0755 or 0644: $unsafe"
}
check_tarball "vorn-*.tar.gz" "${device[@]}"
if [ "$zerovora" = system ]; then
  [ "$(find "$work/pack" -maxdepth 1 -name '*.tar.gz' | wc -l)" -eq 1 ] || fail "more than one tarball"
else
  check_tarball "zerovora-standin-for-hosts-only-*.tar.gz" "${standin[@]}"
fi

# Packed with SOURCE_DATE_EPOCH, every entry carries that date.
(cd "$build_dir" && SOURCE_DATE_EPOCH=1000000000 cpack -B "$work/dated" >/dev/null)
for tarball in "$work"/dated/*.tar.gz; do
  dates=$(TZ=UTC tar -tvzf "$tarball" --full-time | awk '{print $4, $5}' | sort -u)
  [ "$dates" = "2001-09-09 01:46:40" ] || fail "$(basename "$tarball") is dated $dates, not SOURCE_DATE_EPOCH"
done
echo "packed with SOURCE_DATE_EPOCH=1000000000: every entry dated 2001-09-09 01:46:40 UTC"

[ "$build_kind" = native ] && [ "$zerovora" = stand-in ] || exit 0
# The release as an ordinary user builds it (nobody, when the test runs as
# root) from a copy of the sources, then unpacked as root over a root whose
# folders are root's 0755.
chmod 755 "$work"
mkdir -p "$work/user/src"
(cd "$source_dir" && cp -r CMakeLists.txt LICENSE bench cli cmake platform ptest registration standin tests "$work/user/src")
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R 65534:65534 "$work/user"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
# The first build is for /usr; the second for /opt/vorn-long, with a long
# multiarch library folder.
long_libdir=lib/$(c++ -print-multiarch)/a-library-folder-of-forty-characters
for umask in 002 077; do
  if [ "$umask" = 002 ]; then
    build_prefix=/usr build_libdir=lib
  else
    build_prefix=/opt/vorn-long build_libdir=$long_libdir
  fi
  "${as_user[@]}" env HOME="$work/user" bash -ec 'umask $2
    cmake -S "$1/src" -B "$1/build-$2" -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX="$3" -DCMAKE_INSTALL_LIBDIR="$4"
    cmake --build "$1/build-$2" -j "$(nproc)"
    cd "$1/build-$2" && cpack' _ "$work/user" "$umask" "$build_prefix" "$build_libdir" >/dev/null ||
    fail "the release did not build as an ordinary user with umask $umask"
  built=$(cd "$work/user/build-$umask" && find . -path ./_CPack_Packages -prune -o -type f -perm -u+x \
    ! -path '*/CMakeFiles/*' -print | sed 's|^\./||' | sort | tr '\n' ' ')
  [ "$built" = "bin/vorn $build_libdir/libzerovora.so.$version $build_libdir/vorn/ptest/run-ptest $build_libdir/vorn/ptest/zerovora-contract " ] ||
    fail "with BUILD_TESTING=OFF the build made: $built"
  user_tarball=$(echo "$work/user/build-$umask"/vorn-*.tar.gz)
  check_entries "$user_tarball"
  modes=$(tar -tvzf "$user_tarball" | awk '{print $NF, $1}' | sort)
  [ "$modes" = "${build_prefix#/}/bin/vorn -rwxr-xr-x
${build_prefix#/}/share/doc/vorn/LICENSE -rw-r--r--
${build_prefix#/}/share/man/man1/vorn.1 -rw-r--r--" ] || fail "with umask $umask the device tarball holds: $modes"
  [ "$umask" = 002 ] || continue
  usr_tarball=$user_tarball
  DESTDIR=$work/usr-stage cmake --install "$work/user/build-$umask" >/dev/null
  [ -z "$(runpath_of "$work/usr-stage/usr/bin/vorn")" ] ||
    fail "vorn installed into /usr has the RUNPATH $(runpath_of "$work/usr-stage/usr/bin/vorn")"
done
# Unpacked by root, whose umask on a device is 022.
"$source_dir/scripts/private-card.sh" "$build_dir" bash -euc '
  umask 022
  for tool in "" "busybox "; do
    root=$(mktemp -d -p "$2")
    mkdir -p "$root/usr/bin" "$root/usr/share/man"
    chmod -R 755 "$root/usr"
    ${tool}gunzip -c "$1" | ${tool}tar -xf - -C "$root"
    changed=$(find "$root/usr" \( -type d ! -perm 755 -o ! -user 0 \) -print)
    [ -z "$changed" ] || { echo "${tool}tar unpacked as root changed or made $changed" >&2; exit 1; }
    test -x "$root/usr/bin/vorn"
  done' _ "$usr_tarball" "$work" || fail "unpacking the device tarball as root changed what was there"
echo "vorn-*.tar.gz built as an ordinary user with umask 002 and 077: 0/0, 0755 and 0644, no folders"

cp -a /etc "$work/etc" 2>/dev/null || true
"$source_dir/scripts/private-card.sh" "$build_dir" env PREFIX="$prefix" BUILD="$build_dir" ETC="$work/etc" \
  LONG="$work/user/build-077" bash -euc '
  mount --bind "$ETC" /etc
  # /opt first, while the loader knows no libzerovora of the prefix.
  mount -t tmpfs opt /opt
  cmake --install "$BUILD" --prefix /opt/vorn >/dev/null
  cmake --install "$LONG" >/dev/null
  for vorn in /opt/vorn/bin/vorn /opt/vorn-long/bin/vorn; do
    status=0
    usage=$("$vorn" 2>&1) || status=$?
    [ "$status" -eq 1 ] && [ "$usage" = "Usage: vorn [file] [title] [author] [tag]" ] ||
      { echo "$vorn: $usage" >&2; exit 1; }
  done
  mkdir -p "$PREFIX"
  mount -t tmpfs prefix "$PREFIX"
  cmake --install "$BUILD" >/dev/null
  printf 12345 >"$VORN_CARD/f"
  "$PREFIX/bin/vorn" "$VORN_CARD/f" t a g >/dev/null
  test -s "$VORN_DATABASE"' ||
  fail "vorn installed into $prefix, /opt/vorn or /opt/vorn-long did not run"
echo "installed into $prefix, /opt/vorn and /opt/vorn-long ($long_libdir) without DESTDIR: vorn ran at once"
