// The SQL of the global database: its schema and the statements of the
// lookup and the writes. Kept apart so that their query plans can be checked.
#ifndef ZEROVORA_STATEMENTS_H
#define ZEROVORA_STATEMENTS_H

#include <cstdint>
#include <string>
#include <vector>

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

// Looks an entry up by its key.
inline constexpr const char *kSelectEntry =
    "SELECT size, mtime, title, author, tag FROM files"
    " WHERE directory = ?1 AND name = ?2";

// Adds an entry; fails on the key's uniqueness when it exists.
inline constexpr const char *kInsertEntry =
    "INSERT INTO files (directory, name, size, mtime, title, author, tag)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";

// Sets the named columns (checked attribute names) of the entry with the
// key bound after their values: ?1 to ?N are the values, ?N+1 the directory
// part and ?N+2 the base name.
inline std::string update_entry_sql(const std::vector<const char *> &columns) {
  std::string sql = "UPDATE files SET ";
  int parameter = 0;
  for (const char *column : columns) {
    if (parameter > 0) sql += ", ";
    sql += column;
    sql += " = ?" + std::to_string(++parameter);
  }
  sql += " WHERE directory = ?" + std::to_string(parameter + 1) +
         " AND name = ?" + std::to_string(parameter + 2);
  return sql;
}

}  // namespace zerovora

#endif
