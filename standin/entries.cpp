// SPDX-License-Identifier: MIT
#include "entries.h"

#include <array>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bounds.h"
#include "failure.h"
#include "sqlite_owners.h"
#include "statements.h"
#include "zerovora.h"

namespace zerovora {
namespace {

// The attributes of an entry.
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

// The attribute names of the columns of `table`, in its order.
std::vector<const char *> attribute_names(const metadata_table &table) {
  std::vector<const char *> names;
  for (const auto &column : table.columns) {
    names.push_back(kAttributes[*find_attribute(column.name)].name);
  }
  return names;
}

// Fills a new table with the columns of `wanted` from the current row of
// select_entry_sql for them.
metadata_table *make_result(sqlite3_stmt *stmt, const metadata_table &wanted) {
  auto result = std::make_unique<metadata_table>();
  int index = 0;
  for (const auto &column : wanted.columns) {
    const bool number = !kAttributes[*find_attribute(column.name)].changeable;
    result->columns.push_back(
        {column.name, number ? std::to_string(sqlite3_column_int64(stmt, index))
                             : column_text(stmt, index)});
    ++index;
  }
  return result.release();
}

// The length of the key and of the values that a change writes.
std::size_t written_length(const char *directory, const char *name,
                           const metadata_table &table) {
  std::size_t length = std::strlen(directory) + std::strlen(name);
  for (const auto &column : table.columns) length += column.text->size();
  return length;
}

// Prepares the lookup of the key (directory, name) that reads `columns`.
int prepare_lookup(sqlite3 *db, const char *directory, const char *name,
                   const std::vector<const char *> &columns, Statement &stmt) {
  const int rc = prepare(db, select_entry_sql(columns).c_str(), stmt);
  return rc == SQLITE_OK ? bind_texts(stmt.get(), 1, {directory, name}) : rc;
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
  // A key longer than the limit is refused here, as an argument.
  int rc = prepare_lookup(db, directory, name, attribute_names(table), stmt);
  if (rc != SQLITE_OK) return from_sqlite(db, rc).code;
  rc = sqlite3_step(stmt.get());
  // A value asked for is longer than the library reads (another program
  // wrote it): the entry is there all the same, and a change can replace
  // the value, so whether it exists is asked without reading any.
  if (rc == SQLITE_TOOBIG) {
    rc = prepare_lookup(db, directory, name, {}, stmt);
    if (rc == SQLITE_OK) rc = sqlite3_step(stmt.get());
  } else if (rc == SQLITE_ROW && out != nullptr) {
    *out = make_result(stmt.get(), table);
  }
  if (rc == SQLITE_ROW) return ZEROVORA_OK;
  if (rc == SQLITE_DONE) return ZEROVORA_ERROR_NOT_FOUND;
  return from_sqlite(db, rc).code;
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
  const std::string sql = update_entry_sql(attribute_names(table));

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
  // An older SQLite (Debian 11's) reads no column of an entry that holds a
  // value longer than the limit, not even those that the change keeps.
  // When what the change writes is within the limit, the long value is the
  // stored one, which the change replaces or keeps as it was: it runs
  // again with the limit lifted for it, its memory still bounded by the
  // heap limit.
  if (rc == SQLITE_TOOBIG && written_length(directory, name, table) <=
                                 static_cast<std::size_t>(kMaxEntryLength)) {
    sqlite3_reset(stmt.get());
    const int limit =
        sqlite3_limit(db, SQLITE_LIMIT_LENGTH, std::numeric_limits<int>::max());
    rc = sqlite3_step(stmt.get());
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, limit);
  }
  if (rc != SQLITE_DONE) return tell_sqlite(db, rc);
  if (sqlite3_changes(db) == 0) {
    tell({sqlite3_db_filename(db, "main"), "it holds no entry for that file"});
    return ZEROVORA_ERROR_NOT_FOUND;
  }
  return tell_sqlite(db, transaction.commit());
}

}  // namespace zerovora
