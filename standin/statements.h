// SPDX-License-Identifier: MIT
// The SQL of the lookup and the writes of entries. Kept apart so that their
// query plans can be checked.
#ifndef ZEROVORA_STATEMENTS_H
#define ZEROVORA_STATEMENTS_H

#include <cstddef>
#include <string>
#include <vector>

namespace zerovora {

// Looks an entry up by its key, ?1 the directory part and ?2 the base name,
// and reads the named columns (checked attribute names) in their order; with
// none, only whether the entry exists.
inline std::string select_entry_sql(const std::vector<const char *> &columns) {
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    sql += (i > 0 ? ", " : "") + std::string(columns[i]);
  }
  if (columns.empty()) sql += "1";
  return sql + " FROM files WHERE directory = ?1 AND name = ?2";
}

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
