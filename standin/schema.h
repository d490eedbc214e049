// SPDX-License-Identifier: MIT
// The global database's file: the marks in its header that make it ours,
// its schema as SQLite keeps it, and the script that creates both in an
// empty file.
#ifndef ZEROVORA_SCHEMA_H
#define ZEROVORA_SCHEMA_H

#include <cstdint>
#include <string>

namespace zerovora {

// Marks the file as ours in its header ("zvdb").
inline constexpr std::int64_t kApplicationId = 0x7a766462;
inline constexpr std::int64_t kSchemaVersion = 1;

// The table of entries, as SQLite keeps its statement in the schema.
inline constexpr const char *kCreateFilesTable =
    "CREATE TABLE files ("
    " directory TEXT NOT NULL,"
    " name TEXT NOT NULL,"
    " size INTEGER NOT NULL,"
    " mtime INTEGER NOT NULL,"
    " title TEXT NOT NULL,"
    " author TEXT NOT NULL,"
    " tag TEXT NOT NULL,"
    " PRIMARY KEY (directory, name))";

// A row of sqlite_schema; `sql` is null for an index that SQLite makes.
struct SchemaObject {
  const char *type;
  const char *name;
  const char *table;
  const char *sql;
};

// The whole schema that the library creates, in the order of creation: the
// table and the index of its primary key.
inline constexpr SchemaObject kSchema[] = {
    {"table", "files", "files", kCreateFilesTable},
    {"index", "sqlite_autoindex_files_1", "files", nullptr},
};

// Creates the schema in an empty file, marking the file as ours.
inline std::string create_schema_sql() {
  return "PRAGMA application_id = " + std::to_string(kApplicationId) + ";" +
         kCreateFilesTable +
         ";PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
}

}  // namespace zerovora

#endif
