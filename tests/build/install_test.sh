#!/usr/bin/env bash
# Stages the install under DESTDIR and packs it with cpack. The staged tree
# holds the tool, its man page and, when built, the stand-in with its header
# and pkg-config file; the tarball holds the same files. The tool needs
# libzerovora.so.0, no shared C++ runtime when it links its own, and carries
# no RUNPATH.
#
# Arguments: build dir, readelf, "stand-in" or "system", and whether the C++
# runtime is linked in (ON or OFF).
set -euo pipefail
build_dir=$1 readelf=$2 zerovora=$3 static_runtime=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build_dir/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
libdir=$(cache CMAKE_INSTALL_LIBDIR)

DESTDIR=$work/stage cmake --install "$build_dir" >/dev/null
top=$work/stage$prefix
expected=(bin/vorn share/man/man1/vorn.1)
[ "$zerovora" = system ] ||
  expected+=("$libdir/libzerovora.so.0" include/zerovora.h "$libdir/pkgconfig/zerovora.pc")
for file in "${expected[@]}"; do
  [ -e "$top/$file" ] || fail "the install has no $file"
done
if [ "$zerovora" = system ]; then
  ! find "$work/stage" -name 'libzerovora*' | grep -q . || fail "the stand-in was installed"
fi

dynamic=$("$readelf" -d "$top/bin/vorn")
grep -q 'NEEDED.*\[libzerovora\.so\.0\]' <<<"$dynamic" || fail "vorn does not need libzerovora.so.0"
if [ "$static_runtime" = ON ]; then
  ! grep -q 'NEEDED.*libstdc++' <<<"$dynamic" || fail "vorn needs a shared libstdc++"
fi
! grep -q -E 'RUNPATH|RPATH' <<<"$dynamic" || fail "vorn carries a RUNPATH: $(grep PATH <<<"$dynamic")"

(cd "$build_dir" && cpack -B "$work/pack" >/dev/null)
tarball=$(find "$work/pack" -maxdepth 1 -name '*.tar.gz')
[ -n "$tarball" ] || fail "cpack made no tarball"
diff <(cd "$work/stage" && find . -mindepth 1 ! -type d | sed 's|^\./||' | sort) \
  <(tar -tzf "$tarball" | grep -v '/$' | sed 's|^\./||' | sort) ||
  fail "the tarball differs from the staged install"
echo "staged and packed: ${expected[*]}"
