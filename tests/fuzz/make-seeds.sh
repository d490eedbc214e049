#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the fuzz target's seeds with the built vorn on a private card, and
# with Python's sqlite3 for the files that vorn never writes:
#   scripts/private-card.sh BUILD tests/fuzz/make-seeds.sh BUILD OUT
# (DISPLAY must name an X server.) Each seed is what open_path_fuzzer.cpp
# reads: flags, the database file's length, the file, the journal.
set -euo pipefail
build=$1 out=$2
# seed NAME FLAGS [DATABASE [JOURNAL]]
seed() {
  local name=$1 flags=$2 db=${3:-} jr=${4:-}
  local len=0; [ -n "$db" ] && len=$(stat -c %s "$db")
  { printf "\\x$(printf %02x $flags)\\x$(printf %02x $((len & 255)))\\x$(printf %02x $((len >> 8)))"
    [ -n "$db" ] && cat "$db"; [ -n "$jr" ] && cat "$jr"; true; } > "$out/$name"
}
seed new-card 0
printf x > "$VORN_CARD/a"; "$build/bin/vorn" "$VORN_CARD/a" t a g >/dev/null
cp "$VORN_DATABASE" /tmp/one.db; seed one-entry 8 /tmp/one.db
{ sqlite3 /tmp/one.db "SELECT sql || ';' FROM sqlite_schema WHERE sql IS NOT NULL"; echo 'PRAGMA application_id = 2054579298; PRAGMA user_version = 1;'; } > /tmp/schema.sql
for i in $(seq 20); do printf x > "$VORN_CARD/f$i"; "$build/bin/vorn" "$VORN_CARD/f$i" "title $i" a g >/dev/null; done
cp "$VORN_DATABASE" /tmp/many.db; seed entries 8 /tmp/many.db
seed with-wal-and-shm 11 /tmp/many.db
# A killed writer's journal: the transaction spills into the file, and both
# are copied mid-way.
cp /tmp/many.db /tmp/hot.db
python3 - <<'PY'
import sqlite3, shutil
c = sqlite3.connect('/tmp/hot.db', isolation_level=None)
c.execute('PRAGMA cache_size = 1')
c.execute('BEGIN IMMEDIATE')
c.execute("UPDATE files SET title = hex(randomblob(300))")
shutil.copy('/tmp/hot.db', '/tmp/hot-copy.db'); shutil.copy('/tmp/hot.db-journal', '/tmp/hot-copy.db-journal')
c.execute('ROLLBACK')
PY
seed killed-writer 12 /tmp/hot-copy.db /tmp/hot-copy.db-journal
python3 - <<'PY'
import sqlite3
c = sqlite3.connect('/tmp/foreign.db'); c.execute('CREATE TABLE other (x)'); c.execute("INSERT INTO other VALUES ('x')"); c.commit()
schema = open('/tmp/schema.sql').read()
for name, pre in (('/tmp/utf16.db', "PRAGMA encoding = 'UTF-16le';"), ('/tmp/wal.db', 'PRAGMA journal_mode = WAL;')):
    c = sqlite3.connect(name, isolation_level=None); c.executescript(pre + schema); c.close()
PY
seed foreign 8 /tmp/foreign.db
seed utf16 8 /tmp/utf16.db
seed write-ahead-log 8 /tmp/wal.db
python3 - <<'PY'
import struct
magic = bytes.fromhex('d9d505f920a163d7')
def journal(pages, page_size, super_name=b''):
    j = magic + struct.pack('>IIIII', 0, 0, pages, 512, page_size)
    j = j.ljust(512, b'\0')
    if super_name:
        j += struct.pack('>I', 1) + super_name + struct.pack('>II', len(super_name), sum(super_name)) + magic
    return j
open('/tmp/super.jr', 'wb').write(journal(1, 4096, b'/media/off-card'))
open('/tmp/grow.jr', 'wb').write(journal(1000000, 0))
PY
seed super-journal 12 /tmp/one.db /tmp/super.jr
seed page-size-0 12 /tmp/one.db /tmp/grow.jr
