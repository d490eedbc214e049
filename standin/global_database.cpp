// The global metadata database: one SQLite file in the card's root
// directory, one row per (directory part, base name).
//
// Every statement binds its values as parameters. Column names that a
// metadata table brings are only matched against the fixed list of
// attributes below; the SQL text is built from that list alone.
#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "metadata_table_impl.h"
#include "sqlite_owners.h"
#include "statements.h"
#include "zerovora.h"

struct zerovora_global {
  zerovora::Database db;
};

namespace zerovora {
namespace {

// A hidden name, so that the file stays out of the way on a media card.
constexpr const char *kFileName = ".zerovora-global.db";

// Long enough for a burst of concurrent runs on a slow card to queue up.
constexpr int kBusyTimeoutMs = 10000;

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

int from_sqlite(int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ZEROVORA_OK;
    case SQLITE_NOMEM:
      return ZEROVORA_ERROR_NO_MEMORY;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ZEROVORA_ERROR_BUSY;
    case SQLITE_FULL:
      return ZEROVORA_ERROR_FULL;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return ZEROVORA_ERROR_READ_ONLY;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ZEROVORA_ERROR_CORRUPT;
    case SQLITE_CONSTRAINT:
      return ZEROVORA_ERROR_EXISTS;
    default:
      return ZEROVORA_ERROR_IO;
  }
}

int bind_text(sqlite3_stmt *stmt, int index, const char *text) {
  return sqlite3_bind_text(stmt, index, text, -1, SQLITE_STATIC);
}

// What the header of an opened file says about it.
struct Header {
  std::int64_t application_id = 0;
  std::int64_t user_version = 0;
  std::int64_t page_count = 0;
  std::int64_t page_size = 0;
  std::int64_t schema_objects = 0;
};

// Runs `sql`, which yields one integer, into `value`.
int read_integer(sqlite3 *db, const char *sql, std::int64_t &value) {
  Statement stmt;
  int rc = prepare(db, sql, stmt);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
  value = sqlite3_column_int64(stmt.get(), 0);
  return SQLITE_OK;
}

// Reads the header. This is the first read of the file, so SQLite also
// rolls back here what a killed writer left half done. Plain pragmas cost
// far less to prepare than one query over the pragmas' table functions.
int read_header(sqlite3 *db, Header &header) {
  const std::pair<const char *, std::int64_t *> fields[] = {
      {"PRAGMA application_id", &header.application_id},
      {"PRAGMA user_version", &header.user_version},
      {"PRAGMA page_count", &header.page_count},
      {"PRAGMA page_size", &header.page_size},
  };
  for (const auto &[sql, value] : fields) {
    const int rc = read_integer(db, sql, *value);
    if (rc != SQLITE_OK) return rc;
  }
  // Only a file that is not marked as ours can be blank.
  if (header.application_id != 0) return SQLITE_OK;
  return read_integer(db, "SELECT count(*) FROM sqlite_schema",
                      header.schema_objects);
}

bool is_ours(const Header &header) {
  return header.application_id == kApplicationId &&
         header.user_version == kSchemaVersion;
}

bool is_blank(const Header &header) {
  return header.application_id == 0 && header.user_version == 0 &&
         header.schema_objects == 0;
}

// A file shorter than the pages its header counts was cut off: a partial
// copy, or a card that lost its tail. SQLite refuses some such files itself,
// but reads one that ends inside its last page as whole.
bool is_whole(const std::string &path, const Header &header) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 &&
         st.st_size >= header.page_count * header.page_size;
}

// Reads the header and checks that the file holds all of its pages, under
// one read lock.
bool read_whole_header(sqlite3 *db, const std::string &path, Header &header) {
  Transaction transaction(db, Transaction::kRead);
  return transaction.begin_result() == SQLITE_OK &&
         read_header(db, header) == SQLITE_OK && is_whole(path, header) &&
         transaction.commit() == SQLITE_OK;
}

// Creates the schema in a blank file. The write lock is taken before the
// file is looked at again, so that of several processes opening a new card
// at once exactly one creates the schema and the others find it.
bool create_schema(sqlite3 *db) {
  Transaction transaction(db, Transaction::kWrite);
  if (transaction.begin_result() != SQLITE_OK) return false;
  Header header;
  if (read_header(db, header) != SQLITE_OK) return false;
  if (is_ours(header)) return transaction.commit() == SQLITE_OK;
  if (!is_blank(header)) return false;
  if (sqlite3_exec(db, create_schema_sql().c_str(), nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    return false;
  }
  return transaction.commit() == SQLITE_OK;
}

bool is_directory(const char *path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// True when nothing, or an empty file, is at `path`: only then may the
// schema be created. SQLite takes some short files for empty databases, and
// such a file is not ours to write.
bool is_new_file(const std::string &path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) && st.st_size == 0;
}

Database open_database(const std::string &path) {
  const bool new_file = is_new_file(path);
  sqlite3 *raw = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  Database db(raw);
  if (rc != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // The default rollback journal keeps the database a single file whenever
  // no write is under way: a card that is pulled out and read elsewhere
  // carries everything, and a killed writer's journal is rolled back by the
  // next reader. EXTRA syncs the journal, the file and, after the journal is
  // deleted to commit, the directory, so that a write that returned success
  // survives a power cut that follows it at once.
  if (sqlite3_exec(db.get(), "PRAGMA synchronous = EXTRA", nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    return nullptr;
  }
  Header header;
  if (!read_whole_header(db.get(), path, header)) return nullptr;
  if (is_ours(header)) return db;
  if (new_file && is_blank(header) && create_schema(db.get())) return db;
  return nullptr;
}

// Checks that every column of `table` is a known attribute (a changeable
// one when `for_change`), at most once each, with a value when
// `for_change`.
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
  auto *result = new metadata_table;
  for (const auto &column : wanted.columns) {
    const int index = static_cast<int>(*find_attribute(column.name));
    const bool number =
        !kAttributes[static_cast<std::size_t>(index)].changeable;
    result->columns.push_back(
        {column.name, number ? std::to_string(sqlite3_column_int64(stmt, index))
                             : column_text(stmt, index)});
  }
  return result;
}

int get_file(sqlite3 *db, const char *directory, const char *name,
             const metadata_table &table, metadata_table **out) {
  Statement stmt;
  int rc = prepare(db, kSelectEntry, stmt);
  if (rc != SQLITE_OK) return from_sqlite(rc);
  bind_text(stmt.get(), 1, directory);
  bind_text(stmt.get(), 2, name);
  rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_DONE) return ZEROVORA_ERROR_NOT_FOUND;
  if (rc != SQLITE_ROW) return from_sqlite(rc);
  if (out != nullptr) *out = make_result(stmt.get(), table);
  return ZEROVORA_OK;
}

int add_file(sqlite3 *db, const char *directory, const char *name,
             std::int64_t size, std::int64_t mtime, const char *title,
             const char *author, const char *tag) {
  Transaction transaction(db, Transaction::kWrite);
  if (transaction.begin_result() != SQLITE_OK) {
    return from_sqlite(transaction.begin_result());
  }
  Statement stmt;
  int rc = prepare(db, kInsertEntry, stmt);
  if (rc != SQLITE_OK) return from_sqlite(rc);
  bind_text(stmt.get(), 1, directory);
  bind_text(stmt.get(), 2, name);
  sqlite3_bind_int64(stmt.get(), 3, size);
  sqlite3_bind_int64(stmt.get(), 4, mtime);
  bind_text(stmt.get(), 5, title);
  bind_text(stmt.get(), 6, author);
  bind_text(stmt.get(), 7, tag);
  rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_DONE) return from_sqlite(rc);
  return from_sqlite(transaction.commit());
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
    return from_sqlite(transaction.begin_result());
  }
  Statement stmt;
  int rc = prepare(db, sql.c_str(), stmt);
  if (rc != SQLITE_OK) return from_sqlite(rc);
  int index = 0;
  for (const auto &column : table.columns) {
    sqlite3_bind_text(stmt.get(), ++index, column.text->data(),
                      static_cast<int>(column.text->size()), SQLITE_STATIC);
  }
  bind_text(stmt.get(), ++index, directory);
  bind_text(stmt.get(), ++index, name);
  rc = sqlite3_step(stmt.get());
  if (rc != SQLITE_DONE) return from_sqlite(rc);
  if (sqlite3_changes(db) == 0) return ZEROVORA_ERROR_NOT_FOUND;
  return from_sqlite(transaction.commit());
}

}  // namespace
}  // namespace zerovora

extern "C" {

zerovora_global *zerovora_global_open(const char *directory, int flags) {
  if (directory == nullptr || flags != ZEROVORA_OPEN_DEFAULT ||
      !zerovora::is_directory(directory)) {
    return nullptr;
  }
  try {
    auto db = zerovora::open_database(std::string(directory) + "/" +
                                      zerovora::kFileName);
    if (!db) return nullptr;
    return new zerovora_global{std::move(db)};
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

int zerovora_close(zerovora_global *global) {
  if (global == nullptr) return ZEROVORA_ERROR_ARGUMENT;
  delete global;
  return ZEROVORA_OK;
}

int zerovora_global_get_file(zerovora_global *global, const char *directory,
                             const char *name, const metadata_table *table,
                             metadata_table **out) {
  if (global == nullptr || directory == nullptr || name == nullptr ||
      table == nullptr || !zerovora::valid_columns(*table, false)) {
    return ZEROVORA_ERROR_ARGUMENT;
  }
  try {
    return zerovora::get_file(global->db.get(), directory, name, *table, out);
  } catch (const std::bad_alloc &) {
    return ZEROVORA_ERROR_NO_MEMORY;
  }
}

int zerovora_global_add_file(zerovora_global *global, const char *directory,
                             const char *name, int64_t size, int64_t mtime,
                             const char *title, const char *author,
                             const char *tag) {
  if (global == nullptr || directory == nullptr || name == nullptr ||
      title == nullptr || author == nullptr || tag == nullptr) {
    return ZEROVORA_ERROR_ARGUMENT;
  }
  return zerovora::add_file(global->db.get(), directory, name, size, mtime,
                            title, author, tag);
}

int zerovora_global_change_file(zerovora_global *global, const char *directory,
                                const char *name, const metadata_table *table) {
  if (global == nullptr || directory == nullptr || name == nullptr ||
      table == nullptr || !zerovora::valid_columns(*table, true)) {
    return ZEROVORA_ERROR_ARGUMENT;
  }
  try {
    return zerovora::change_file(global->db.get(), directory, name, *table);
  } catch (const std::bad_alloc &) {
    return ZEROVORA_ERROR_NO_MEMORY;
  }
}

}  // extern "C"
