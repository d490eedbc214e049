#!/usr/bin/env bash
# Builds vorn as a firmware recipe does: with a toolchain file of the
# recipe's own kind (the compilers, the sysroot and pkg-config's sysroot,
# nothing of this project's), configured with no option of the project's
# (as Yocto's cmake class does) and with the options that Buildroot gives
# every CMake package, then installed with DESTDIR. Against a sysroot that
# holds a device library (the stand-in, installed into an overlay of the
# sysroot as the device's own), each stages exactly vorn and its man page,
# and vorn needs the sysroot's libzerovora.so.0 and has no RUNPATH. Against
# the sysroot without one, the configure stops and names the library and
# the option that links against the stand-in, which then stages nothing of
# it either. The two builds with a device library, in two folders, pack
# byte-identical device tarballs, with no SOURCE_DATE_EPOCH given.
#
#   recipe_test.sh SOURCE SYSROOT TRIPLET STANDIN_BUILD READELF
# STANDIN_BUILD: a cross build of the stand-in for TRIPLET, against SYSROOT.
set -euo pipefail
source_dir=$1 sysroot=$2 triplet=$3 standin_build=$4 readelf=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

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
set(CMAKE_SYSTEM_PROCESSOR ${triplet%%-*})
set(CMAKE_SYSROOT $1)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET $triplet)
set(CMAKE_CXX_COMPILER_TARGET $triplet)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} $1)
set(ENV{PKG_CONFIG_LIBDIR} $1/usr/lib/$triplet/pkgconfig:$1/usr/lib/pkgconfig:$1/usr/share/pkgconfig)
EOF
}

# Configures, builds and stages the build $1 with the toolchain file $2 and
# the options after them; checks what is staged.
recipe() {
  local name=$1 build=$work/$1 toolchain_file=$2 dynamic staged
  shift 2
  cmake -S "$source_dir" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
    -DCMAKE_INSTALL_PREFIX=/usr "$@" >"$build.log" 2>&1 || { cat "$build.log" >&2; fail "$name did not configure"; }
  cmake --build "$build" >>"$build.log" 2>&1 || { cat "$build.log" >&2; fail "$name did not build"; }
  DESTDIR=$build/image cmake --install "$build" >/dev/null
  staged=$(cd "$build/image" && find . -mindepth 1 ! -type d | sort | tr '\n' ' ')
  [ "$staged" = "./usr/bin/vorn ./usr/share/man/man1/vorn.1 " ] || fail "$name staged $staged"
  dynamic=$("$readelf" -d "$build/image/usr/bin/vorn")
  grep -q 'NEEDED.*\[libzerovora\.so\.0\]' <<<"$dynamic" || fail "$name: vorn does not need libzerovora.so.0"
  ! grep -q -E 'RUNPATH|RPATH' <<<"$dynamic" || fail "$name: vorn has a RUNPATH"
  echo "$name: staged $staged"
}

DESTDIR=$work/device-library cmake --install "$standin_build" --component standin >/dev/null
overlay "$sysroot" "$work/device-library" "$work/sysroot-with-library"
toolchain "$work/sysroot-with-library" "$work/with-library.cmake"
toolchain "$sysroot" "$work/without-library.cmake"
buildroot=(-DBUILD_TESTING=OFF -DBUILD_TESTS=OFF -DBUILD_DOC=OFF -DBUILD_EXAMPLES=OFF -DBUILD_SHARED_LIBS=ON)

recipe yocto "$work/with-library.cmake"
recipe buildroot "$work/with-library.cmake" "${buildroot[@]}"
for build in yocto buildroot; do
  grep -q "Linking against the existing $work/sysroot-with-library/usr/lib/libzerovora.so" "$work/$build.log" ||
    fail "$build did not link against the sysroot's libzerovora"
  ! find "$work/$build" -name 'libzerovora*' ! -path '*/image/*' | grep -q . || fail "$build built the stand-in"
  (cd "$work/$build" && env -u SOURCE_DATE_EPOCH cpack >/dev/null)
done
cmp "$work"/yocto/vorn-*.tar.gz "$work"/buildroot/vorn-*.tar.gz ||
  fail "two builds of one commit packed different device tarballs"
echo "yocto and buildroot: byte-identical device tarballs"

if cmake -S "$source_dir" -B "$work/no-library" -DCMAKE_TOOLCHAIN_FILE="$work/without-library.cmake" \
  >"$work/no-library.log" 2>&1; then
  fail "a sysroot without libzerovora configured"
fi
said=$(tr -s ' \n' '  ' <"$work/no-library.log")
[[ $said == *"finds no zerovora"* && $said == *"-DVORN_ZEROVORA=stand-in"* ]] ||
  { cat "$work/no-library.log" >&2; fail "the configure without libzerovora did not say why"; }
echo "no-library: the configure stopped, naming libzerovora and -DVORN_ZEROVORA=stand-in"
recipe stand-in "$work/without-library.cmake" -DVORN_ZEROVORA=stand-in "${buildroot[@]}"
