// SPDX-License-Identifier: MIT
#include "file_judgement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "failure.h"
#include "schema.h"
#include "sqlite_owners.h"

namespace zerovora {
namespace {

// SQLite's 100-byte file header, where its magic, its page size and the
// marks of kHeaderMarks are.
constexpr int kHeaderSize = 100;
constexpr char kMagic[] = "SQLite format 3";  // with its NUL, 16 bytes
constexpr std::size_t kPageSizeOffsetInHeader = 16;
constexpr std::size_t kUserVersionOffset = 60;
constexpr std::size_t kApplicationIdOffset = 68;
constexpr std::uint32_t kMinPageSize = 512;
constexpr std::uint32_t kMaxPageSize = 65536;

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;

constexpr const char *kNotOurs = "not a database of this library: ";

std::uint32_t big_endian(const std::uint8_t *bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

std::uint32_t mark_value(const HeaderBytes &header, const HeaderMark &mark) {
  return mark.size == 1 ? header[mark.offset]
                        : big_endian(&header[mark.offset]);
}

bool has_no_marks(const HeaderBytes &header) {
  return big_endian(&header[kUserVersionOffset]) == 0 &&
         big_endian(&header[kApplicationIdOffset]) == 0;
}

// Empty when `header` has SQLite's magic and every mark of ours; otherwise
// why the file is not ours, naming the first mark that differs.
std::string unmarked(const HeaderBytes &header) {
  if (std::memcmp(header.data(), kMagic, sizeof kMagic) != 0) {
    return std::string(kNotOurs) + "not an SQLite database";
  }
  if (has_no_marks(header)) {
    return std::string(kNotOurs) +
           "an SQLite database with none of this library's marks";
  }
  for (const HeaderMark &mark : kHeaderMarks) {
    const std::uint32_t value = mark_value(header, mark);
    if (value != mark.value) {
      return kNotOurs + std::string(mark.differs) + " (" + mark.name + " " +
             std::to_string(value) + ")";
    }
  }
  return "";
}

// Reads the header through SQLite's own file of `db`; what lies past the
// end of a shorter file reads as zeros.
bool read_header(sqlite3 *db, HeaderBytes &header) {
  sqlite3_file *file = main_file(db);
  const int rc = file->pMethods->xRead(file, header.data(), kHeaderSize, 0);
  return rc == SQLITE_OK || rc == SQLITE_IOERR_SHORT_READ;
}

// Runs `sql`, which yields one integer, into `value`; returns SQLite's
// result, SQLITE_OK when there is a value.
int read_integer(sqlite3 *db, const char *sql, std::int64_t &value) {
  Statement stmt;
  // The settings of the open read the schema first, and a schema that
  // can't be read ends the open there: only memory fails the prepare.
  int rc = prepare(db, sql, stmt);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt.get());  // GCOVR_EXCL_BR_LINE
  // A pragma that gives a value yields its row or fails: no row at all
  // would be a failure without a cause of SQLite's.
  if (rc != SQLITE_ROW) {
    return rc == SQLITE_DONE ? SQLITE_ERROR : rc;  // GCOVR_EXCL_BR_LINE
  }
  value = sqlite3_column_int64(stmt.get(), 0);
  return SQLITE_OK;
}

// True when `text` (null for SQL's NULL) is `expected` (null for NULL).
// (SQLite can't read a schema that gives the key's index a text, the one
// object of ours without one: a text where none is expected never gets
// here.)
bool same_text(const unsigned char *text, const char *expected) {
  const auto *actual = reinterpret_cast<const char *>(text);
  if (actual == nullptr || expected == nullptr) {  // GCOVR_EXCL_BR_LINE
    return actual == expected;
  }
  return std::strcmp(actual, expected) == 0;
}

// True when the file's schema is exactly the `count` rows at `expected`,
// row for row: nothing added (no table, index, view or trigger), nothing
// changed.
bool schema_is(sqlite3 *db, const SchemaObject *expected, std::size_t count) {
  // The page count read the schema just before: only memory can fail here.
  Statement stmt;
  const char *sql = "SELECT type, name, tbl_name, sql FROM sqlite_schema";
  if (prepare(db, sql, stmt) != SQLITE_OK) return false;  // GCOVR_EXCL_BR_LINE
  for (const SchemaObject *object = expected; object != expected + count;
       ++object) {
    if (sqlite3_step(stmt.get()) != SQLITE_ROW) return false;
    const char *const columns[] = {object->type, object->name, object->table,
                                   object->sql};
    for (int column = 0; column < 4; ++column) {
      if (!same_text(sqlite3_column_text(stmt.get(), column),
                     columns[column])) {
        return false;
      }
    }
  }
  return sqlite3_step(stmt.get()) == SQLITE_DONE;
}

// A file shorter than the pages its header counts, of `page_size` bytes,
// was cut off: a partial copy, or a card that lost its tail. SQLite refuses
// some such files itself, but reads one that ends inside its last page as
// whole.
bool is_whole(sqlite3 *db, std::int64_t pages, std::int64_t page_bytes,
              Failure &why) {
  const char *path = sqlite3_db_filename(db, "main");
  struct stat st {};
  if (stat(path, &st) != 0) {
    why.cause = reason(errno);
    return false;
  }
  if (st.st_size >= pages * page_bytes) return true;
  why.cause = std::string(kNotOurs) + "a cut-off copy (" +
              std::to_string(st.st_size) + " bytes, where its header counts " +
              std::to_string(pages) + " pages of " +
              std::to_string(page_bytes) + ")";
  return false;
}

// A file descriptor, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// What a rollback journal holds at its start (the first header: its magic,
// then among others the database's size in pages before the transaction
// and the page size) and at its end when it names a super-journal (the
// name's length, a checksum and the magic again).
constexpr std::array<std::uint8_t, 8> kJournalMagic = {0xd9, 0xd5, 0x05, 0xf9,
                                                       0x20, 0xa1, 0x63, 0xd7};
constexpr off_t kJournalHeaderSize = 28;
constexpr std::size_t kOriginalPagesOffset = 16;
constexpr std::size_t kPageSizeOffset = 24;
constexpr off_t kSuperJournalTailSize = 16;

constexpr const char *kNotOurJournal =
    "not a journal of this library, left as it is: ";

template <std::size_t N>
bool read_at(int fd, std::array<std::uint8_t, N> &bytes, off_t offset) {
  return pread(fd, bytes.data(), N, offset) == static_cast<ssize_t>(N);
}

bool is_journal_magic(const std::uint8_t *bytes) {
  return std::memcmp(bytes, kJournalMagic.data(), kJournalMagic.size()) == 0;
}

// The page size that the database file's header gives (bytes 16 and 17,
// where 1 stands for 65 536), or 0 when it gives none that SQLite takes.
std::uint32_t page_size(const HeaderBytes &header) {
  std::uint32_t size = std::uint32_t{header[kPageSizeOffsetInHeader]} << 8 |
                       header[kPageSizeOffsetInHeader + 1];
  if (size == 1) size = kMaxPageSize;
  const bool power_of_two = (size & (size - 1)) == 0;
  return size >= kMinPageSize && power_of_two ? size : 0;
}

// True when there is no journal at `journal`, or when it may be rolled back
// into a database file of `size` bytes whose header gives `file_page_size`
// (0 for none). The library's journals never name a super-journal (there is
// one database, never attached to another) and never restore a larger file
// than there is (the file only grows, and only after its size is in the
// journal): a journal that does either was written by something else, and
// SQLite would delete the file it names or grow the database file to the
// size it gives. Only the first header's size counts: SQLite truncates or
// grows the file to it, and skips the pages past it in every later part.
// A journal that gives no page size (SQLite's oldest versions wrote 0) is
// rolled back in the file's own, or in the largest one where the file
// gives none.
bool journal_may_roll_back(const std::string &journal, off_t size,
                           std::uint32_t file_page_size, Failure &why) {
  const auto refuse = [&](const std::string &cause) {
    why.path = journal;
    why.cause = cause;
    return false;
  };
  const Descriptor fd(
      open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) return true;
    return refuse(reason(errno));
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) return refuse(reason(errno));
  // The name of a super-journal, at the end, and the first header.
  std::array<std::uint8_t, kSuperJournalTailSize> tail{};
  std::array<std::uint8_t, kJournalHeaderSize> header{};
  if ((st.st_size >= kSuperJournalTailSize &&
       !read_at(fd.get(), tail, st.st_size - kSuperJournalTailSize)) ||
      (st.st_size >= kJournalHeaderSize && !read_at(fd.get(), header, 0))) {
    return refuse(std::string("can't be read: ") + reason(errno));
  }
  if (is_journal_magic(&tail[8])) {
    return refuse(std::string(kNotOurJournal) + "it names a super-journal");
  }
  // The size that the first header restores.
  if (!is_journal_magic(header.data())) return true;
  std::uint32_t journal_page_size = big_endian(&header[kPageSizeOffset]);
  if (journal_page_size == 0) {
    journal_page_size = file_page_size != 0 ? file_page_size : kMaxPageSize;
  }
  const std::uint64_t restored =
      std::uint64_t{big_endian(&header[kOriginalPagesOffset])} *
      journal_page_size;
  if (restored <= static_cast<std::uint64_t>(size)) return true;
  return refuse(std::string(kNotOurJournal) +
                "it would grow the database file from " + std::to_string(size) +
                " to " + std::to_string(restored) + " bytes");
}

}  // namespace

FileIs judge_before_reading(sqlite3 *db, Failure &why) {
  // The file must still be the one at its path.
  int moved = 1;  // stays 1 when the file can't tell
  sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved);
  if (moved != 0) {
    why.cause = "no longer the file at its path: another run removed it";
    return FileIs::kForeign;
  }
  // The size on disk: SQLite's own file reports a file of one byte as empty.
  const char *path = sqlite3_db_filename(db, "main");
  struct stat st {};
  if (lstat(path, &st) != 0) {
    why.cause = reason(errno);
    return FileIs::kForeign;
  }
  HeaderBytes header{};
  if (st.st_size != 0) {
    if (st.st_size < kHeaderSize) {
      why.cause = std::string(kNotOurs) + "too short for one (" +
                  std::to_string(st.st_size) + " bytes)";
      return FileIs::kForeign;
    }
    if (!read_header(db, header)) {
      why.cause = std::string("its header can't be read: ") + reason(errno);
      return FileIs::kForeign;
    }
    why.cause = unmarked(header);
    if (!why.cause.empty()) return FileIs::kForeign;
  }
  if (!journal_may_roll_back(std::string(path) + "-journal", st.st_size,
                             page_size(header), why)) {
    return FileIs::kForeign;
  }
  return st.st_size == 0 ? FileIs::kBlank : FileIs::kOurs;
}

FileIs judge_after_reading(sqlite3 *db, Failure &why) {
  // The first read, at which SQLite rolls a journal back. A plain pragma
  // costs far less to prepare than a query.
  std::int64_t pages = 0;
  HeaderBytes header{};
  const int rc = read_integer(db, "PRAGMA page_count", pages);
  if (rc != SQLITE_OK) {
    why.cause = from_sqlite(db, rc).cause;
    return FileIs::kForeign;
  }
  if (!read_header(db, header)) {
    why.cause = std::string("its header can't be read: ") + reason(errno);
    return FileIs::kForeign;
  }
  const std::string differs = unmarked(header);
  if (differs.empty()) {
    // SQLite took the header's page size, or it would have refused the file.
    if (!is_whole(db, pages, page_size(header), why)) return FileIs::kForeign;
    if (schema_is(db, kSchema, std::size(kSchema))) return FileIs::kOurs;
  } else if (!has_no_marks(header)) {
    why.cause = differs;
    return FileIs::kForeign;
  } else if (schema_is(db, nullptr, 0)) {
    return FileIs::kBlank;
  }
  why.cause = std::string(kNotOurs) +
              "another schema (a table, index, view or trigger added, "
              "changed or missing)";
  return FileIs::kForeign;
}

}  // namespace zerovora
