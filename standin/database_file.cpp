// SPDX-License-Identifier: MIT
#include "database_file.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "bounds.h"
#include "failure.h"
#include "file_judgement.h"
#include "schema.h"
#include "zerovora.h"

namespace zerovora {
namespace {

// True when SQLite's result `rc` on `db` is a success; otherwise `why` gets
// its cause.
bool succeeded(sqlite3 *db, int rc, Failure &why) {
  if (rc == SQLITE_OK) return true;
  why.cause = from_sqlite(db, rc).cause;
  return false;
}

// Settings for a file that anyone may have written: SQLite's defensive mode,
// no trust in functions that the schema names, no triggers or views (ours
// has none), cell sizes checked on every read, no memory mapping, so that a
// damaged file shows as an error rather than a fault, and no value or entry
// longer than the library's limit read or written, so that memory stays
// bounded whatever the file holds.
bool harden(sqlite3 *db, Failure &why) {
  // The length limit below bounds what is read into values; the keys that
  // SQLite compares while it looks an entry up are bounded by the heap
  // limit alone, which is the process's: it is set only when the process
  // has set none of its own.
  if (sqlite3_hard_heap_limit64(-1) == 0) sqlite3_hard_heap_limit64(kHeapLimit);
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db, 1);
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxEntryLength);
  const std::pair<int, int> settings[] = {
      {SQLITE_DBCONFIG_DEFENSIVE, 1},
      {SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0},
      {SQLITE_DBCONFIG_ENABLE_TRIGGER, 0},
      {SQLITE_DBCONFIG_ENABLE_VIEW, 0},
  };
  for (const auto &[option, value] : settings) {
    // Fails only on an older SQLite than the one built against, which
    // lacks the option.
    const int rc = sqlite3_db_config(db, option, value, nullptr);
    if (!succeeded(db, rc, why)) return false;  // GCOVR_EXCL_BR_LINE
  }
  // The default rollback journal keeps the database a single file whenever
  // no write is under way: a card that is pulled out and read elsewhere
  // carries everything, and a killed writer's journal is rolled back by the
  // next reader. EXTRA syncs the journal, the file and, after the journal is
  // deleted to commit, the directory, so that a write that returned success
  // survives a power cut that follows it at once.
  // Temporary data stays in memory: the card's VFS opens no other file.
  return succeeded(db,
                   sqlite3_exec(db,
                                "PRAGMA synchronous = EXTRA;"
                                "PRAGMA cell_size_check = ON;"
                                "PRAGMA mmap_size = 0;"
                                "PRAGMA temp_store = MEMORY",
                                nullptr, nullptr, nullptr),
                   why);
}

// Opens the database in `db`, just opened on its file, creating the schema
// when the file is blank.
bool prepare_file(sqlite3 *db, Failure &why) {
  // Judged before SQLite's first read, which may roll a journal back into
  // the file.
  if (judge_before_reading(db, why) == FileIs::kForeign || !harden(db, why)) {
    return false;
  }
  // Judged under a read lock, and a file that is blank as far as SQLite
  // sees again under the write lock: of several processes opening a new
  // card at once, exactly one creates the schema and the others find it;
  // and the file counts as new only then, after SQLite has rolled back
  // whatever a writer killed while creating it left behind.
  std::optional<Transaction> transaction;
  for (const Transaction::Kind kind :
       {Transaction::kRead, Transaction::kWrite}) {
    // The read transaction ends before the write one begins.
    transaction.emplace(db, kind);
    if (!succeeded(db, transaction->begin_result(), why)) return false;
    const FileIs file = judge_after_reading(db, why);
    if (file == FileIs::kForeign) return false;
    if (file == FileIs::kOurs) {
      return succeeded(db, transaction->commit(), why);
    }
  }
  // SQLite takes some short files for empty databases, and such a file is
  // not ours to write: only a file that is empty on disk is.
  const std::string schema = create_schema_sql();
  return judge_before_reading(db, why) == FileIs::kBlank &&
         succeeded(db,
                   sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr),
                   why) &&
         succeeded(db, transaction->commit(), why);
}

// Creates an empty database file at `path` when there is none, as SQLite
// would (mode 0644 less the umask); returns the file made, or nothing when
// this call made none. A file that can't be made is no failure yet (the
// file may be there, and SQLite may read one on a read-only card), but its
// cause is kept in `why` for when SQLite can't open one either.
std::optional<FileId> create_file(const std::string &path, Failure &why) {
  const int fd = open(path.c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    switch (errno) {
      case EEXIST:
        break;
      case EROFS:
      case EACCES:
      case EPERM:
        why.cause = "no database file can be made: the card is read-only";
        break;
      default:
        why.cause =
            std::string("no database file can be made: ") + reason(errno);
    }
    return std::nullopt;
  }
  // A file whose status can't be read has the id of no file, and is never
  // removed.
  struct stat st {};
  fstat(fd, &st);
  close(fd);
  return FileId{st.st_dev, st.st_ino};
}

// The exclusive lock on the file of `db`, taken a level at a time without
// waiting, as long as it lives. It is taken on the file itself, since a
// transaction that takes it writes a journal first, which a full card
// refuses.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(sqlite3 *db) : file_(main_file(db)) {
    for (const int level :
         {SQLITE_LOCK_SHARED, SQLITE_LOCK_RESERVED, SQLITE_LOCK_EXCLUSIVE}) {
      if (file_->pMethods->xLock(file_, level) != SQLITE_OK) return;
    }
    held_ = true;
  }
  ExclusiveLock(const ExclusiveLock &) = delete;
  ExclusiveLock &operator=(const ExclusiveLock &) = delete;
  ~ExclusiveLock() { file_->pMethods->xUnlock(file_, SQLITE_LOCK_NONE); }

  bool held() const { return held_; }

 private:
  sqlite3_file *file_;
  bool held_ = false;
};

}  // namespace

void remove_made_file(sqlite3 *db, const std::string &path,
                      const FileId &made) {
  const ExclusiveLock lock(db);
  struct stat st {};
  if (lock.held() && lstat(path.c_str(), &st) == 0 && st.st_size == 0 &&
      st.st_dev == made.device && st.st_ino == made.inode) {
    unlink(path.c_str());
  }
}

Database open_database(const CardVfs &vfs, Failure &why) {
  const std::string &path = vfs.database();
  why = {path, ""};
  const std::optional<FileId> made = create_file(path, why);
  sqlite3 *raw = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw,
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
      vfs.name());
  Database db(raw);
  if (rc != SQLITE_OK) {
    if (why.cause.empty()) why.cause = from_sqlite(db.get(), rc).cause;
    return nullptr;
  }
  why.cause.clear();
  if (prepare_file(db.get(), why)) return db;
  if (made) remove_made_file(db.get(), path, *made);
  return nullptr;
}

}  // namespace zerovora
