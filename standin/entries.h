// SPDX-License-Identifier: MIT
// The entries of the global database, one row per (directory part, base
// name): looking one up, adding one and changing one, with SQLite's result
// codes mapped to the library's.
//
// Every statement binds its values as parameters. Column names that a
// metadata table brings are only matched against the fixed list of
// attributes; the SQL text is built from that list alone.
#ifndef ZEROVORA_ENTRIES_H
#define ZEROVORA_ENTRIES_H

#include <sqlite3.h>

#include <cstdint>

#include "metadata_table_impl.h"

namespace zerovora {

// Checks that every column of `table` is a known attribute (a changeable
// one when `for_change`), at most once each, with a value when
// `for_change`.
bool valid_columns(const metadata_table &table, bool for_change);

// The operations behind the C functions of the same names, on valid
// arguments; each returns a ZEROVORA_* code. add_file and change_file tell
// a failure's cause on standard error; get_file tells none, since its
// caller decides whether a failed lookup is a failure (vorn takes it for a
// missing entry and adds one, whose failure is then told).
int get_file(sqlite3 *db, const char *directory, const char *name,
             const metadata_table &table, metadata_table **out);
int add_file(sqlite3 *db, const char *directory, const char *name,
             std::int64_t size, std::int64_t mtime, const char *title,
             const char *author, const char *tag);
int change_file(sqlite3 *db, const char *directory, const char *name,
                const metadata_table &table);

}  // namespace zerovora

#endif
