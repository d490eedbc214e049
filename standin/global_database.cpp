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
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "card_file.h"
#include "metadata_table_impl.h"
#include "schema.h"
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

// SQLite's heap in a process that uses the library: an ordinary run needs
// about 3 MiB (the page cache, the schema, the statements).
constexpr sqlite3_int64 kHeapLimit = 16 * 1024 * 1024;

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
      // Only the key's uniqueness means that the entry exists; any other
      // constraint (a NOT NULL, say) is a failure of the library's own.
      return rc == SQLITE_CONSTRAINT_PRIMARYKEY ? ZEROVORA_ERROR_EXISTS
                                                : ZEROVORA_ERROR_IO;
    case SQLITE_TOOBIG:
      return ZEROVORA_ERROR_ARGUMENT;
    default:
      return ZEROVORA_ERROR_IO;
  }
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

// What the header of an opened file says about it.
struct Header {
  std::int64_t application_id = 0;
  std::int64_t user_version = 0;
  std::int64_t page_count = 0;
  std::int64_t page_size = 0;
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

// Reads the header. This is the first read of the file in its transaction,
// so SQLite also rolls back here what a killed writer left half done. Plain
// pragmas cost far less to prepare than one query over the pragmas' table
// functions.
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
  return SQLITE_OK;
}

bool same_text(const unsigned char *text, const char *expected) {
  if (text == nullptr || expected == nullptr)
    return text == nullptr && !expected;
  return std::strcmp(reinterpret_cast<const char *>(text), expected) == 0;
}

// True when the file's schema is exactly `expected`, row for row: nothing
// added (no table, index, view or trigger), nothing changed.
bool schema_is(sqlite3 *db, std::span<const SchemaObject> expected) {
  Statement stmt;
  if (prepare(db, "SELECT type, name, tbl_name, sql FROM sqlite_schema",
              stmt) != SQLITE_OK) {
    return false;
  }
  for (const SchemaObject &object : expected) {
    if (sqlite3_step(stmt.get()) != SQLITE_ROW ||
        !same_text(sqlite3_column_text(stmt.get(), 0), object.type) ||
        !same_text(sqlite3_column_text(stmt.get(), 1), object.name) ||
        !same_text(sqlite3_column_text(stmt.get(), 2), object.table) ||
        !same_text(sqlite3_column_text(stmt.get(), 3), object.sql)) {
      return false;
    }
  }
  return sqlite3_step(stmt.get()) == SQLITE_DONE;
}

// What a database file holds, for the library.
enum class Content {
  kOurs,     // our marks and exactly our schema
  kBlank,    // no marks and no schema: nothing yet, as far as SQLite sees
  kForeign,  // anything else, never to be written
};

// A file shorter than the pages its header counts was cut off: a partial
// copy, or a card that lost its tail. SQLite refuses some such files itself,
// but reads one that ends inside its last page as whole.
bool is_whole(const std::string &path, const Header &header) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 &&
         st.st_size >= header.page_count * header.page_size;
}

// Examines the file inside a transaction that the caller holds, so that
// no writer changes it meanwhile.
Content examine(sqlite3 *db, const std::string &path) {
  Header header;
  if (read_header(db, header) != SQLITE_OK) return Content::kForeign;
  if (header.application_id == kApplicationId &&
      header.user_version == kSchemaVersion) {
    return is_whole(path, header) && schema_is(db, kSchema) ? Content::kOurs
                                                            : Content::kForeign;
  }
  // A blank file is written only when it is empty on disk, which the
  // caller checks under the write lock. (A write transaction on an empty
  // file counts one page that is not on disk yet.)
  if (header.application_id == 0 && header.user_version == 0 &&
      schema_is(db, {})) {
    return Content::kBlank;
  }
  return Content::kForeign;
}

// Creates the schema in a blank file. The write lock is taken before the
// file is examined again, so that of several processes opening a new card
// at once exactly one creates the schema and the others find it; and the
// file counts as new only now, after SQLite has rolled back whatever a
// writer killed while creating it left behind.
bool create_schema(sqlite3 *db, const std::string &path) {
  Transaction transaction(db, Transaction::kWrite);
  if (transaction.begin_result() != SQLITE_OK) return false;
  switch (examine(db, path)) {
    case Content::kOurs:
      return transaction.commit() == SQLITE_OK;
    case Content::kForeign:
      return false;
    case Content::kBlank:
      break;
  }
  // SQLite takes some short files for empty databases, and such a file is
  // not ours to write.
  if (judge_file_header(db) != FileHeader::kEmpty ||
      sqlite3_exec(db, create_schema_sql().c_str(), nullptr, nullptr,
                   nullptr) != SQLITE_OK) {
    return false;
  }
  return transaction.commit() == SQLITE_OK;
}

bool is_directory(const char *path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Undoes the octal escapes (\040 for a space) of a path in the mount table.
std::string unescape_mount_path(const std::string &field) {
  const auto is_octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string path;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
        is_octal(field[i + 2]) && is_octal(field[i + 3])) {
      path +=
          static_cast<char>((field[i + 1] - '0') * 64 +
                            (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      path += field[i];
    }
  }
  return path;
}

// True when the process's mount table has a mount at `directory`.
bool listed_as_mount_point(const char *directory) {
  char *canonical = realpath(directory, nullptr);
  if (canonical == nullptr) return false;
  const std::string wanted(canonical);
  std::free(canonical);
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    // The fifth field is the mount point.
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 5 && fields >> field; ++i) {
    }
    if (unescape_mount_path(field) == wanted) return true;
  }
  return false;
}

// True when `directory` is the root of a mounted file system: a card, not a
// folder of the file system that a card would be mounted on. Mount points
// usually stay when the card is out, and what is written there would be
// hidden once a card is in. A bind mount counts; it shows only in the mount
// table when it binds a folder of the file system below it.
bool is_mount_point(const char *directory) {
  struct stat self {};
  struct stat parent {};
  const std::string up = std::string(directory) + "/..";
  if (stat(directory, &self) != 0 || stat(up.c_str(), &parent) != 0) {
    return false;
  }
  if (self.st_dev != parent.st_dev || self.st_ino == parent.st_ino) {
    return true;
  }
  return listed_as_mount_point(directory);
}

// Settings for a file that anyone may have written: SQLite's defensive mode,
// no trust in functions that the schema names, no triggers or views (ours
// has none), cell sizes checked on every read, no memory mapping, so that a
// damaged file shows as an error rather than a fault, and no value or entry
// longer than the library's limit read or written, so that memory stays
// bounded whatever the file holds.
bool harden(sqlite3 *db) {
  // The length limit below bounds what is read into values; the keys that
  // SQLite compares while it looks an entry up are bounded by the heap
  // limit alone, which is the process's: it is set only when the process
  // has set none of its own.
  if (sqlite3_hard_heap_limit64(-1) == 0) sqlite3_hard_heap_limit64(kHeapLimit);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, ZEROVORA_MAX_ENTRY_LENGTH);
  const std::pair<int, int> settings[] = {
      {SQLITE_DBCONFIG_DEFENSIVE, 1},
      {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
      {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
      {SQLITE_DBCONFIG_ENABLE_VIEW, 0},
  };
  for (const auto &[option, value] : settings) {
    if (sqlite3_db_config(db, option, value, nullptr) != SQLITE_OK) {
      return false;
    }
  }
  // The default rollback journal keeps the database a single file whenever
  // no write is under way: a card that is pulled out and read elsewhere
  // carries everything, and a killed writer's journal is rolled back by the
  // next reader. EXTRA syncs the journal, the file and, after the journal is
  // deleted to commit, the directory, so that a write that returned success
  // survives a power cut that follows it at once.
  return sqlite3_exec(db,
                      "PRAGMA synchronous = EXTRA;"
                      "PRAGMA cell_size_check = ON;"
                      "PRAGMA mmap_size = 0",
                      nullptr, nullptr, nullptr) == SQLITE_OK;
}

Database open_database(const std::string &path) {
  // A link is refused rather than followed: the card may have been prepared
  // to make the library create or fill a file anywhere.
  if (!may_open(path)) return nullptr;
  sqlite3 *raw = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
      nullptr);
  Database db(raw);
  // Judged before SQLite's first read, which may roll a journal back into
  // the file.
  if (rc != SQLITE_OK || judge_file_header(db.get()) == FileHeader::kOther ||
      !harden(db.get())) {
    return nullptr;
  }
  {
    Transaction transaction(db.get(), Transaction::kRead);
    if (transaction.begin_result() != SQLITE_OK) return nullptr;
    const Content content = examine(db.get(), path);
    if (content == Content::kForeign) return nullptr;
    if (content == Content::kOurs) {
      return transaction.commit() == SQLITE_OK ? std::move(db) : nullptr;
    }
  }
  // Blank as far as SQLite sees: whether it may be written is decided under
  // the write lock, since another process may be creating the schema now.
  if (!create_schema(db.get(), path)) return nullptr;
  return db;
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

int get_file(sqlite3 *db, const char *directory, const char *name,
             const metadata_table &table, metadata_table **out) {
  Statement stmt;
  int rc = prepare(db, kSelectEntry, stmt);
  if (rc == SQLITE_OK) rc = bind_texts(stmt.get(), 1, {directory, name});
  if (rc != SQLITE_OK) return from_sqlite(rc);
  rc = sqlite3_step(stmt.get());
  if (rc == SQLITE_DONE) return ZEROVORA_ERROR_NOT_FOUND;
  // An entry beyond the limit was not written by this library.
  if (rc == SQLITE_TOOBIG) return ZEROVORA_ERROR_CORRUPT;
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
  if (rc == SQLITE_OK) rc = bind_texts(stmt.get(), 1, {directory, name});
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt.get(), 3, size);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt.get(), 4, mtime);
  if (rc == SQLITE_OK) rc = bind_texts(stmt.get(), 5, {title, author, tag});
  if (rc != SQLITE_OK) return from_sqlite(rc);
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
  int index = 0;
  for (const auto &column : table.columns) {
    if (rc != SQLITE_OK) break;
    rc =
        sqlite3_bind_text(stmt.get(), ++index, column.text->data(),
                          static_cast<int>(column.text->size()), SQLITE_STATIC);
  }
  if (rc == SQLITE_OK)
    rc = bind_texts(stmt.get(), index + 1, {directory, name});
  if (rc != SQLITE_OK) return from_sqlite(rc);
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
    if (!zerovora::is_mount_point(directory)) return nullptr;
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
