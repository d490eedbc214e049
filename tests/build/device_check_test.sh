#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# cmake/device-check.sh on crafted readelf listings, a row each: what vorn
# needs (libraries, glibc versions, GLib and GTK+ calls), the baseline, and
# whether the check passes, with the words of its line. A check that fails
# removes the binary; one that passes keeps it.
#   device_check_test.sh SOURCE
set -euo pipefail
check=$1/cmake/device-check.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A readelf that prints the listing of $work/needed, $work/versions and
# $work/calls for -d, -V and --dyn-syms, as binutils' readelf lays them out.
cat >"$work/readelf" <<'EOF'
#!/usr/bin/env bash
work=$(dirname "$0")
case " $* " in
  *" -d "*) sed 's/.*/ 0x00000001 (NEEDED)  Shared library: [&]/' "$work/needed" ;;
  *" -V "*) sed 's/.*/  0x0010:   Name: &  Flags: none  Version: 2/' "$work/versions" ;;
  *" --dyn-syms "*) sed 's/.*/     1: 00000000     0 FUNC    GLOBAL DEFAULT  UND &/' "$work/calls" ;;
esac
EOF
chmod +x "$work/readelf"

libraries="libzerovora.so.0 libgtk-x11-2.0.so.0 libgobject-2.0.so.0 libglib-2.0.so.0"
calls="gtk_init g_type_init g_path_get_dirname g_path_get_basename g_strdup_printf g_free@GLIBC_2.4 memcpy@GLIBC_2.4"
# name | NEEDED | glibc versions | undefined symbols | baseline | pass or fail | words
rows=(
  "all it may|$libraries libc.so.6|GLIBC_2.4|$calls|2.4|pass|glibc up to GLIBC_2.4 (at most GLIBC_2.4)"
  "2.34 sorts before 2.4 as text|$libraries libc.so.6|GLIBC_2.4 GLIBC_2.34|$calls|2.4|fail|it needs GLIBC_2.34, newer than GLIBC_2.4"
  "2.4 under a baseline of 2.34|$libraries libc.so.6|GLIBC_2.4 GLIBC_2.17|$calls|2.34|pass|glibc up to GLIBC_2.17 (at most GLIBC_2.34)"
  "a GLib call outside the list|$libraries libc.so.6|GLIBC_2.4|$calls g_strdup|2.4|fail|it calls g_strdup"
  "a GTK+ call outside the list|$libraries libc.so.6|GLIBC_2.4|$calls gtk_main|2.4|fail|it calls gtk_main"
  "a library outside the list|$libraries libc.so.6 libsqlite3.so.0|GLIBC_2.4|$calls|2.4|fail|it needs libsqlite3.so.0"
  "a library by its path|$libraries /sysroot/usr/lib/libzerovora.so libc.so.6|GLIBC_2.4|$calls|2.4|fail|it needs the path /sysroot/usr/lib/libzerovora.so"
  "no glibc version|$libraries libc.so.6||$calls|2.4|fail|it names no glibc symbol version"
  "musl's C library|$libraries libc.so||$calls|none|pass|not checked: the target's C library is not glibc"
  "glibc's C library beside musl's baseline|$libraries libc.so.6||$calls|none|fail|it needs libc.so.6"
)
failures=0
for row in "${rows[@]}"; do
  IFS='|' read -r name needed versions symbols baseline expected words <<<"$row"
  tr ' ' '\n' <<<"$needed" >"$work/needed"
  tr ' ' '\n' <<<"$versions" | sed '/^$/d' >"$work/versions"
  tr ' ' '\n' <<<"$symbols" >"$work/calls"
  : >"$work/vorn"
  outcome=pass
  said=$(bash "$check" "$work/vorn" "$work/readelf" "$baseline" 2>&1) || outcome=fail
  kept=$([ -e "$work/vorn" ] && echo pass || echo fail)
  if [ "$outcome" != "$expected" ] || [ "$kept" != "$expected" ] || [[ $said != *"$words"* ]]; then
    echo "FAIL: $name: the check said \"$said\" ($outcome, binary kept: $kept); expected $expected with \"$words\""
    failures=$((failures + 1))
  else
    echo "ok: $name: $expected"
  fi
done
exit "$failures"
