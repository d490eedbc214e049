#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A step of every build for the device: checks what vorn needs of the
# device. It loads only the device library, GTK+ 2, GObject, GLib and the C
# library, each named by its SONAME (never by a path of the build machine);
# it needs no glibc symbol version newer than the baseline; and it calls no
# GLib or GTK+ function beyond the few that it uses. On failure the binary is
# removed, so that the next build links and checks it again.
#
#   device-check.sh VORN READELF BASELINE    (BASELINE: 2.4 for armhf and
#                                             armel, 2.17 for arm64, the
#                                             sysroot's glibc version, or
#                                             "none" for a C library that is
#                                             not glibc)
set -euo pipefail
vorn=$1 readelf=$2 baseline=$3
fail() {
  echo "vorn is not fit for the device: $*" >&2
  rm -f "$vorn"
  exit 1
}

allowed_libraries=(libzerovora.so.0 libgtk-x11-2.0.so.0 libgobject-2.0.so.0 libglib-2.0.so.0)
if [ "$baseline" = none ]; then
  # musl's and uClibc-ng's C libraries.
  allowed_libraries+=(libc.so libc.so.0 libc.so.1)
else
  allowed_libraries+=(libc.so.6)
fi
allowed_functions=(gtk_init g_type_init g_path_get_dirname g_path_get_basename g_strdup_printf g_free)
is_one_of() {
  local word=$1 allowed
  shift
  for allowed in "$@"; do [ "$word" = "$allowed" ] && return 0; done
  return 1
}

needed=$("$readelf" -d "$vorn" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for library in $needed; do
  case "$library" in
    */*) fail "it needs the path $library: the library it was linked with has no SONAME" ;;
  esac
  is_one_of "$library" "${allowed_libraries[@]}" || fail "it needs $library"
done

if [ "$baseline" = none ]; then
  echo "vorn's glibc symbol versions are not checked: the target's C library is not glibc"
  c_library="a C library other than glibc"
else
  versions=$("$readelf" -W -V "$vorn" | { grep -o 'GLIBC_[0-9][0-9.]*' || true; } | sort -u -V)
  [ -n "$versions" ] || fail "it names no glibc symbol version"
  needs=$(printf '%s\n' "$versions" | tail -n 1)
  newest=$(printf '%s\n' "$needs" "GLIBC_$baseline" | sort -V | tail -n 1)
  [ "$newest" = "GLIBC_$baseline" ] ||
    fail "it needs $needs, newer than GLIBC_$baseline: $(echo $versions)"
  c_library="glibc up to $needs (at most GLIBC_$baseline)"
fi

functions=$("$readelf" -W --dyn-syms "$vorn" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' |
  { grep -E '^(g|gtk|gdk)_' || true; } | sort -u)
for function in $functions; do
  is_one_of "$function" "${allowed_functions[@]}" || fail "it calls $function"
done
echo "vorn needs $(echo $needed); $c_library; calls $(echo $functions)"
