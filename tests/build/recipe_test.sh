#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds vorn as a firmware recipe does, on an integrator's build host of
# each row below (scripts/build-host.sh) with its own CMake and its own GCC
# cross compiler, against an armhf sysroot of the same release
# (scripts/sysroot.sh), through a toolchain file of a recipe's kind: the
# compilers, the sysroot and pkg-config's sysroot, nothing of this project's.
# The configures pass what the recipes in recipes/ pass, after the options
# that Yocto's cmake class and Buildroot's CMake packages give every package.
# In each row:
#   - without a device library in the sysroot, the configure stops and names
#     the ways out; with -DVORN_ZEROVORA=stand-in it builds, and stages
#     nothing of the stand-in, which then serves as the device library;
#   - with that library and its zerovora.pc, and with the bare library and
#     header alone, the configure says which it linked;
#   - each build is warning-free and stages exactly vorn, its man page and
#     its licence; vorn needs libzerovora.so.0, has no RUNPATH, and the
#     device check ran against the sysroot's glibc;
#   - with the ptest component too, the image holds vorn, its man page, its
#     licence, run-ptest and the contract suite, which has no RUNPATH;
#   - two builds in two folders pack byte-identical device tarballs;
#   - a native build configures, builds, stages and packs vorn and the
#     stand-in.
# Checks too that the recipes' version is project()'s, that their licence
# checksums are the licence's, and that their dependencies are the
# pkg-config modules that the build uses.
#
#   recipe_test.sh SOURCE    every row
set -euo pipefail
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# release and GCC of each row: Debian 11 (CMake 3.18, GCC 10 and GCC 9) and
# Debian 13 (CMake 3.31, GCC 14).
rows=("bullseye g++" "bullseye g++-9" "trixie g++")

if [ "${1:-}" != --in-root ]; then
  source_dir=$(realpath "${1:?usage: recipe_test.sh SOURCE}")
  "$source_dir/scripts/install-deps.sh" device
  for row in "${rows[@]}"; do
    read -r release gxx <<<"$row"
    host=$("$source_dir/scripts/build-host.sh" "$release")
    sysroot=$("$source_dir/scripts/sysroot.sh" armhf "$release")
    echo "== $release, $gxx"
    "$source_dir/scripts/in-root.sh" "$host" --share "$source_dir=/tmp/source" \
      --share "$sysroot=/tmp/sysroot" -- \
      bash /tmp/source/tests/build/recipe_test.sh --in-root /tmp/source /tmp/sysroot "$gxx"
  done
  exit 0
fi

# In the build host's root.
source_dir=$2 sysroot=$3 gxx=$4
triplet=arm-linux-gnueabihf
cross_cxx=$triplet-$gxx cross_cc=$triplet-${gxx/++/cc}
work=/tmp/work
mkdir -p "$work"
echo "$(cmake --version | head -n 1); $($cross_cxx --version | head -n 1)"

# The recipes, checked against the tree.
version=$(sed -n 's/^project(vorn VERSION \([^ ]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
bb=$source_dir/recipes/yocto/vorn_$version.bb
mk=$source_dir/recipes/buildroot/vorn/vorn.mk
[ -f "$bb" ] || fail "no Yocto recipe for version $version: $(ls "$source_dir/recipes/yocto")"
grep -qx "VORN_VERSION = $version" "$mk" || fail "$mk is not for version $version"
md5=$(md5sum "$source_dir/LICENSE" | cut -d' ' -f1)
grep -qx "LIC_FILES_CHKSUM = \"file://LICENSE;md5=$md5\"" "$bb" || fail "$bb: not the licence's checksum"
sha256=$(sha256sum "$source_dir/LICENSE" | cut -d' ' -f1)
grep -qx "sha256  $sha256  LICENSE" "${mk%.mk}.hash" || fail "${mk%.mk}.hash: not the licence's sha256"
grep -qx 'LICENSE = "MIT"' "$bb" && grep -qx 'VORN_LICENSE = MIT' "$mk" &&
  grep -qx 'VORN_LICENSE_FILES = LICENSE' "$mk" || fail "the recipes name another licence or file"
read -ra yocto_options <<<"$(sed -n 's/^EXTRA_OECMAKE = "\(.*\)"$/\1/p' "$bb")"
read -ra buildroot_options <<<"$(sed -n 's/^VORN_CONF_OPTS = *//p' "$mk")"

# What each build system gives every CMake package.
yocto=(-G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_BINDIR=bin -DCMAKE_INSTALL_LIBDIR=lib
  -DCMAKE_INSTALL_INCLUDEDIR=include -DCMAKE_INSTALL_DATAROOTDIR=share -DCMAKE_INSTALL_SO_NO_EXE=0
  -DCMAKE_NO_SYSTEM_FROM_IMPORTED=1 -DCMAKE_EXPORT_NO_PACKAGE_REGISTRY=ON "${yocto_options[@]}")
buildroot=(-DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_COLOR_MAKEFILE=OFF -DBUILD_DOC=OFF -DBUILD_DOCS=OFF
  -DBUILD_EXAMPLE=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TEST=OFF -DBUILD_TESTS=OFF -DBUILD_TESTING=OFF
  -DBUILD_SHARED_LIBS=ON -DCMAKE_BUILD_TYPE=Release "${buildroot_options[@]}")

# Links to every entry of $1 in $3, but that the entries of $2 take their
# places: folders are merged, files added.
overlay() {
  local from=$1 extra=$2 to=$3 entry name
  mkdir -p "$to"
  for entry in "$from"/* "$from"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    name=$(basename "$entry")
    if [ -d "$extra/$name" ] && [ -d "$entry" ] && [ ! -L "$entry" ]; then
      overlay "$entry" "$extra/$name" "$to/$name"
    else
      ln -s "$entry" "$to/$name"
    fi
  done
  for entry in "$extra"/*; do
    [ -e "$to/$(basename "$entry")" ] || cp -a "$entry" "$to/"
  done
}

# A toolchain file for the sysroot $1, at $2.
toolchain() {
  cat >"$2" <<EOF
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_SYSROOT $1)
set(CMAKE_C_COMPILER $cross_cc)
set(CMAKE_CXX_COMPILER $cross_cxx)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} $1)
set(ENV{PKG_CONFIG_LIBDIR} $1/usr/lib/$triplet/pkgconfig:$1/usr/lib/pkgconfig:$1/usr/share/pkgconfig)
EOF
}

glibc=$(sed -n 's/^#define[[:space:]]*__GLIBC_MINOR__[[:space:]]*//p' "$sysroot/usr/include/features.h")
glibc=2.$glibc
# Configures, builds and stages the build $1 with the toolchain file $2 and
# the options after them, and checks it; the log is $1.log.
recipe() {
  local name=$1 build=$work/$1 toolchain_file=$2 dynamic staged
  shift 2
  cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" "$@" >"$build.log" 2>&1 ||
    { cat "$build.log" >&2; fail "$name did not configure"; }
  cmake --build "$build" >>"$build.log" 2>&1 || { cat "$build.log" >&2; fail "$name did not build"; }
  ! grep -F 'warning:' "$build.log" || fail "$name built with warnings"
  grep -q "The target's glibc is $glibc" "$build.log" && grep -q "^vorn needs .*(at most GLIBC_$glibc)" "$build.log" ||
    { cat "$build.log" >&2; fail "$name: the device check did not run against glibc $glibc"; }
  DESTDIR=$build/image cmake --install "$build" >/dev/null
  staged=$(cd "$build/image" && find . -mindepth 1 ! -type d | sort | tr '\n' ' ')
  [ "$staged" = "./usr/bin/vorn ./usr/share/doc/vorn/LICENSE ./usr/share/man/man1/vorn.1 " ] ||
    fail "$name staged $staged"
  dynamic=$($triplet-readelf -d "$build/image/usr/bin/vorn")
  grep -q 'NEEDED.*\[libzerovora\.so\.0\]' <<<"$dynamic" || fail "$name: vorn does not need libzerovora.so.0"
  ! grep -q -E 'RUNPATH|RPATH' <<<"$dynamic" || fail "$name: vorn has a RUNPATH"
  echo "$name: $(grep -o 'Linking against the existing .*' "$build.log" || echo "built the stand-in");" \
    "staged $staged; $(grep '^vorn needs ' "$build.log")"
}

toolchain "$sysroot" "$work/bare.cmake"
if cmake -S "$source_dir" -B "$work/no-library" -DCMAKE_TOOLCHAIN_FILE="$work/bare.cmake" "${yocto[@]}" \
  >"$work/no-library.log" 2>&1; then
  fail "a sysroot without libzerovora configured"
fi
said=$(tr -s ' \n' '  ' <"$work/no-library.log")
[[ $said == *"-DVORN_ZEROVORA_LIBRARY="* && $said == *"-DVORN_ZEROVORA=stand-in"* ]] ||
  { cat "$work/no-library.log" >&2; fail "the configure without libzerovora did not name the ways out"; }
echo "no library: the configure stopped, naming -DVORN_ZEROVORA_LIBRARY and -DVORN_ZEROVORA=stand-in"

recipe stand-in "$work/bare.cmake" "${buildroot[@]}" -DVORN_ZEROVORA=stand-in
DESTDIR=$work/device-library cmake --install "$work/stand-in" --component standin >/dev/null
overlay "$sysroot" "$work/device-library" "$work/with-pc"
cp -a "$work/device-library" "$work/device-library-bare"
find "$work/device-library-bare" -name '*.pc' -delete
find "$work/device-library-bare" -type d -empty -delete
overlay "$sysroot" "$work/device-library-bare" "$work/with-bare"
toolchain "$work/with-pc" "$work/with-pc.cmake"
toolchain "$work/with-bare" "$work/with-bare.cmake"

recipe pkg-config "$work/with-pc.cmake" "${yocto[@]}"
grep -q "(pkg-config's zerovora)" "$work/pkg-config.log" || fail "pkg-config's zerovora was not linked"
# The recipes' ptest install: the plain install and the component, into one
# image.
DESTDIR=$work/pkg-config/image cmake --install "$work/pkg-config" --component ptest >/dev/null
staged=$(cd "$work/pkg-config/image" && find . -mindepth 1 ! -type d | sort | tr '\n' ' ')
[ "$staged" = "./usr/bin/vorn ./usr/lib/vorn/ptest/run-ptest ./usr/lib/vorn/ptest/zerovora-contract ./usr/share/doc/vorn/LICENSE ./usr/share/man/man1/vorn.1 " ] ||
  fail "with the ptest component, pkg-config staged $staged"
! $triplet-readelf -d "$work/pkg-config/image/usr/lib/vorn/ptest/zerovora-contract" | grep -q -E 'RUNPATH|RPATH' ||
  fail "the staged zerovora-contract has a RUNPATH"
echo "pkg-config, with the ptest component: staged $staged"
recipe bare-library "$work/with-bare.cmake" "${buildroot[@]}"
grep -q "(libzerovora.so and zerovora.h without pkg-config)" "$work/bare-library.log" ||
  fail "the bare library was not linked"
recipe bare-library-again "$work/with-bare.cmake" "${buildroot[@]}" >/dev/null
for build in pkg-config bare-library bare-library-again; do
  ! find "$work/$build" -name 'libzerovora*' ! -path '*/image/*' | grep -q . || fail "$build built the stand-in"
  (cd "$work/$build" && env -u SOURCE_DATE_EPOCH cpack >/dev/null)
done
cmp "$work"/bare-library/vorn-*.tar.gz "$work"/bare-library-again/vorn-*.tar.gz ||
  fail "two builds of one commit packed different device tarballs"
echo "bare-library, built again in another folder: a byte-identical device tarball"

# The pkg-config modules of the device build, as its cache records them,
# against the recipes' dependencies (each module by its package's name).
modules=$(sed -n 's/^__pkg_config_arguments_[A-Z0-9_]*:INTERNAL=//p' "$work/pkg-config/CMakeCache.txt" |
  tr ';' '\n' | grep -v -x -E 'REQUIRED|QUIET|IMPORTED_TARGET|GLOBAL' | sort -u | tr '\n' ' ')
[ "$modules" = "glib-2.0 gobject-2.0 gtk+-2.0 zerovora " ] || fail "the build uses the modules $modules"
grep -qx 'DEPENDS = "gtk+ glib-2.0 zerovora"' "$bb" || fail "$bb depends on other packages than $modules"
grep -qx 'VORN_DEPENDENCIES = libgtk2 libglib2 zerovora' "$mk" ||
  fail "$mk depends on other packages than $modules"
echo "the recipes: version $version, the licence's checksums, and the packages of the modules $modules"

cmake -S "$source_dir" -B "$work/native" -DCMAKE_CXX_COMPILER="$gxx" -DCMAKE_C_COMPILER="${gxx/++/cc}" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >"$work/native.log" 2>&1 &&
  cmake --build "$work/native" >>"$work/native.log" 2>&1 || { cat "$work/native.log" >&2; fail "native build"; }
! grep -F 'warning:' "$work/native.log" || fail "the native build had warnings"
DESTDIR=$work/native/image cmake --install "$work/native" >/dev/null
(cd "$work/native" && cpack >/dev/null)
packed=$(cd "$work/native" && for tarball in *.tar.gz; do tar -tzf "$tarball"; done | sort | tr '\n' ' ')
[[ $packed == *bin/vorn* && $packed == *lib/libzerovora.so.0* && $packed == *share/doc/vorn/LICENSE* &&
  $packed == *share/doc/zerovora-standin/LICENSE* ]] || fail "the native tarballs hold $packed"
echo "native: built, staged and packed vorn and the stand-in"
