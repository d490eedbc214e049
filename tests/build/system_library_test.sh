#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds vorn against an existing libzerovora instead of the stand-in. A
# prebuilt stand-in is installed into a fake system root; one build finds it
# with pkg-config and another by its path. Neither may build the stand-in
# or look for SQLite, and the vorn of each must need libzerovora.so.0 and run
# on a private card.
#
# Arguments: source dir, build dir holding a built stand-in, readelf,
# whether that build is sanitized (ON or OFF), the toolchain options (none
# or more), "--", then the emulator command (none or more words).
set -euo pipefail
source_dir=$1 build_dir=$2 readelf=$3 sanitize=$4
shift 4
toolchain=()
while [ "$1" != -- ]; do
  toolchain+=("$1")
  shift
done
shift
emulator=("$@")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
DESTDIR=$root cmake --install "$build_dir" --component standin --prefix /usr >/dev/null
library=$(find "$root" -name libzerovora.so.0)
pc_dir=$(dirname "$(find "$root" -name zerovora.pc)")

configure=(-DBUILD_TESTING=OFF -DVORN_ZEROVORA=system -DVORN_WERROR=ON -DVORN_SANITIZE="$sanitize")
configure+=("${toolchain[@]}")
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Checks the build in $1 and runs its vorn on a private card.
check() {
  local build=$1
  ! find "$build" -name 'libzerovora*' | grep -q . || fail "$build built the stand-in"
  ! grep -q '^SQLITE3_' "$build/CMakeCache.txt" || fail "$build looked for SQLite"
  "$readelf" -d "$build/bin/vorn" | grep -q 'NEEDED.*\[libzerovora\.so\.0\]' ||
    fail "$build/bin/vorn does not need libzerovora.so.0"
  "$source_dir/scripts/private-card.sh" "$build" bash -euc '
    printf 12345 >"$VORN_CARD/f"
    out=$("$@" "$VORN_CARD/f" t a g)
    [ "$out" = "Processing: [file:$VORN_CARD/f] [title:t] [author:a] [tag:g]" ] ||
      { echo "unexpected output: $out" >&2; exit 1; }
    test -s "$VORN_DATABASE"' _ "${emulator[@]}" "$build/bin/vorn" ||
    fail "$build/bin/vorn did not run"
}

# Against a sysroot, pkg-config puts the sysroot in front of every path it
# gives, so a library outside it is found by its path alone.
if [[ " ${toolchain[*]} " != *" -DVORN_SYSROOT="* ]]; then
  PKG_CONFIG_PATH=$pc_dir cmake -S "$source_dir" -B "$work/by-pkg-config" "${configure[@]}" >/dev/null
  cmake --build "$work/by-pkg-config" --target vorn >/dev/null
  check "$work/by-pkg-config"
fi

cmake -S "$source_dir" -B "$work/by-path" "${configure[@]}" -DVORN_ZEROVORA_LIBRARY="$library" >/dev/null
cmake --build "$work/by-path" --target vorn >/dev/null
check "$work/by-path"
echo "vorn built and ran against $library"
