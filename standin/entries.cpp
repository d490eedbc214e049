// SPDX-License-Identifier: MIT
#include "entries.h"

#include <array>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "failure.h"
#include "sqlite_owners.h"
#include "statements.h"
#include "zerovora.h"

namespace zerovora {
namespace {

// The attributes of an entry, in the column order of kSelectEntry.
struct Attribute {
  const char *name;
  bool changeable;
};
constexpr std::array<Attribute, 5> kAttributes = {{
    {ZEROVORA_COLUMN_SIZE, false},
    {ZEROVORA_COLUMN_MTIME, false},
    {ZEROVORA_COLUMN_TITLE, true},
    {ZEROVORA_COLUMN_AUTHOR, true},
    {ZEROVORA_COLUMN_TAG, true},
}};

std::optional<std::size_t> find_attribute(const std::string &name) {
  for (std::size_t i = 0; i < kAttributes.size(); ++i) {
    if (name == kAttributes[i].name) return i;
  }
  return std::nullopt;
}

// Binds each of `texts` to the parameters from `first` on; returns the
// first failure, or SQLITE_OK.
int bind_texts(sqlite3_stmt *stmt, int first,
               std::initializer_list<const char *> texts) {
  int index = first;
  for (const char *text : texts) {
    const int rc = sqlite3_bind_text(stmt, index++, text, -1, SQLITE_STATIC);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

std::string column_text(sqlite3_stmt *stmt, int column) {
  const auto *text =
      reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
  const int bytes = sqlite3_column_bytes(stmt, column);
  return text ? std::string(text, static_cast<std::size_t>(bytes))
              : std::string();
}

// Fills a new table with the columns of `wanted` from the current row of
// kSelectEntry.
metadata_table *make_result(sqlite3_stmt *stmt, const metadata_table &wanted) {
  auto result = std::make_unique<metadata_table>();
  for (const auto &column : wanted.columns) {
    const int index = static_cast<int>(*find_attribute(column.name));
    const bool number =
        !kAttributes[static_cast<std::size_t>(index)].changeable;
    result->columns.push_back(
        {column.name, number ? std::to_string(sqlite3_column_int64(stmt, index))
                             : column_text(stmt, index)});
  }
  return result.release();
}

}  // namespace

bool valid_columns(const metadata_table &table, bool for_change) {
  if (table.columns.empty()) return false;
  std::array<bool, kAttributes.size()> seen{};
  for (const auto &column : table.columns) {
    const auto index = find_attribute(column.name);
    if (!index) return false;
    if (for_change) {
      if (!kAttributes[*index].changeable || !column.text || seen[*index]) {
        return false;
      }
    }
    seen[*index] = true;
  }
  return true;
}

int get_file(sqlite3 *db, const char *directory, const char *name,
             const metadata_table &table, metadata_table **out) {
  Statement stmt;
  int rc = prepare(db, kSelectEntry, stmt);
  if (rc == SQLITE_OK) rc = bind_texts(stmt.get(), 1, {directory, name});
  if (rc != SQLITE_OK) return from_sqlite(db, rc).code;
  rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_DONE) return ZEROVORA_ERROR_NOT_FOUND;
  // An entry beyond the limit was not written by this library.
  if (rc == SQLITE_TOOBIG) return ZEROVORA_ERROR_CORRUPT;
  if (rc != SQLITE_ROW) return from_sqlite(db, rc).code;
  if (out != nullptr) *out = make_result(stmt.get(), table);
  return ZEROVORA_OK;
}

int add_file(sqlite3 *db, const char *directory, const char *name,
             std::int64_t size, std::int64_t mtime, const char *title,
             const char *author, const char *tag) {
  Transaction transaction(db, Transaction::kWrite);
  if (transaction.begin_result() != SQLITE_OK) {
    return tell_sqlite(db, transaction.begin_result());
  }
  Statement stmt;
  int rc = prepare(db, kInsertEntry, stmt);
  if (rc == SQLITE_OK) rc = bind_texts(stmt.get(), 1, {directory, name});
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt.get(), 3, size);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt.get(), 4, mtime);
  if (rc == SQLITE_OK) rc = bind_texts(stmt.get(), 5, {title, author, tag});
  if (rc != SQLITE_OK) return tell_sqlite(db, rc);
  rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_DONE) return tell_sqlite(db, rc);
  return tell_sqlite(db, transaction.commit());
}

int change_file(sqlite3 *db, const char *directory, const char *name,
                const metadata_table &table) {
  std::vector<const char *> columns;
  for (const auto &column : table.columns) {
    columns.push_back(kAttributes[*find_attribute(column.name)].name);
  }
  const std::string sql = update_entry_sql(columns);

  Transaction transaction(db, Transaction::kWrite);
  if (transaction.begin_result() != SQLITE_OK) {
    return tell_sqlite(db, transaction.begin_result());
  }
  Statement stmt;
  int rc = prepare(db, sql.c_str(), stmt);
  int index = 0;
  for (const auto &column : table.columns) {
    if (rc != SQLITE_OK) break;
    rc =
        sqlite3_bind_text(stmt.get(), ++index, column.text->data(),
                          static_cast<int>(column.text->size()), SQLITE_STATIC);
  }
  if (rc == SQLITE_OK)
    rc = bind_texts(stmt.get(), index + 1, {directory, name});
  if (rc != SQLITE_OK) return tell_sqlite(db, rc);
  rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_DONE) return tell_sqlite(db, rc);
  if (sqlite3_changes(db) == 0) {
    tell({sqlite3_db_filename(db, "main"), "it holds no entry for that file"});
    return ZEROVORA_ERROR_NOT_FOUND;
  }
  return tell_sqlite(db, transaction.commit());
}

}  // namespace zerovora
