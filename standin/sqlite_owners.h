// SPDX-License-Identifier: MIT
// Small owners of SQLite resources for the stand-in library, so that every
// way out of a database operation finalizes its statement and ends its
// transaction exactly once.
#ifndef ZEROVORA_SQLITE_OWNERS_H
#define ZEROVORA_SQLITE_OWNERS_H

#include <sqlite3.h>

#include <memory>

namespace zerovora {

struct DatabaseCloser {
  void operator()(sqlite3 *db) const noexcept { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt *stmt) const noexcept { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Prepares `sql` into `stmt`; returns the SQLite result code.
inline int prepare(sqlite3 *db, const char *sql, Statement &stmt) {
  sqlite3_stmt *raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  stmt.reset(raw);
  return rc;
}

// SQLite's own file of the main database of `db`, which SQLite opened with
// the connection: its methods are the card's VFS's.
inline sqlite3_file *main_file(sqlite3 *db) {
  sqlite3_file *file = nullptr;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file);
  return file;
}

// A transaction, rolled back unless committed. A write transaction takes
// the write lock when it begins, so that a writer waits for others in the
// busy handler instead of failing later when it would upgrade a read lock.
// A read transaction holds a read lock from its first read on, so that no
// writer changes the file in between.
class Transaction {
 public:
  enum Kind { kRead, kWrite };

  Transaction(sqlite3 *db, Kind kind)
      : db_(db),
        begin_result_(sqlite3_exec(db,
                                   kind == kWrite ? "BEGIN IMMEDIATE" : "BEGIN",
                                   nullptr, nullptr, nullptr)) {}
  Transaction(const Transaction &) = delete;
  Transaction &operator=(const Transaction &) = delete;
  ~Transaction() {
    if (begin_result_ == SQLITE_OK && !committed_) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }

  // The SQLite result code of BEGIN.
  int begin_result() const { return begin_result_; }

  // Commits; returns the SQLite result code. On failure the destructor
  // rolls back.
  int commit() {
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    committed_ = rc == SQLITE_OK;
    return rc;
  }

 private:
  sqlite3 *db_;
  int begin_result_;
  bool committed_ = false;
};

}  // namespace zerovora

#endif
