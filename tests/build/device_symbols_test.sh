#!/usr/bin/env bash
# Checks what the device's vorn needs of the device: the libraries it loads
# (the device library, GTK+ 2, GObject, GLib and the C library, nothing
# else), no glibc symbol version newer than the architecture's first one,
# and no GLib or GTK+ function beyond the few that it calls.
#
# Arguments: the vorn binary, readelf, and the baseline glibc version
# (2.4 for armhf, 2.17 for arm64).
set -euo pipefail
vorn=$1 readelf=$2 baseline=$3
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

allowed_libraries="libzerovora.so.0 libgtk-x11-2.0.so.0 libgobject-2.0.so.0 libglib-2.0.so.0 libc.so.6"
allowed_functions="gtk_init g_type_init g_path_get_dirname g_path_get_basename g_strdup_printf g_free"

needed=$("$readelf" -d "$vorn" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
for library in $needed; do
  grep -qw -- "$library" <<<"$allowed_libraries" || fail "vorn needs $library"
done

versions=$("$readelf" -W -V "$vorn" | grep -o 'GLIBC_[0-9][0-9.]*' | sort -u -V)
[ -n "$versions" ] || fail "vorn names no glibc symbol version"
newest=$(printf '%s\n' "$versions" "GLIBC_$baseline" | sort -V | tail -n 1)
[ "$newest" = "GLIBC_$baseline" ] || fail "vorn needs $newest, newer than GLIBC_$baseline: $(echo $versions)"

functions=$("$readelf" -W --dyn-syms "$vorn" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }' |
  grep -E '^(g|gtk|gdk)_' | sort -u)
for function in $functions; do
  grep -qw -- "$function" <<<"$allowed_functions" || fail "vorn calls $function"
done
echo "vorn needs $(echo $needed); glibc up to $newest; calls $(echo $functions)"
