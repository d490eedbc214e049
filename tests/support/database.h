// SPDX-License-Identifier: MIT
// Reads entries back from a global database, through the library's own
// lookup and, for counts and checks, straight from the SQLite file.
#ifndef VORN_TESTS_DATABASE_H
#define VORN_TESTS_DATABASE_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace vorn::testing {

struct Entry {
  std::int64_t size = 0;
  std::int64_t mtime = 0;
  std::string title;
  std::string author;
  std::string tag;

  bool operator==(const Entry &) const = default;
};

// Shows an entry's fields in a failed comparison.
inline void PrintTo(const Entry &entry, std::ostream *out) {
  *out << "{size " << entry.size << ", mtime " << entry.mtime << ", title "
       << ::testing::PrintToString(entry.title) << ", author "
       << ::testing::PrintToString(entry.author) << ", tag "
       << ::testing::PrintToString(entry.tag) << "}";
}

// The entry for (`directory`, `name`) in the database kept in `card`, or
// nothing when there is none or the database does not open.
std::optional<Entry> read_entry(const std::string &card,
                                const std::string &directory,
                                const std::string &name);

// The entry as read_entry reads it, or, when there is none, one whose every
// field says so, so that a comparison fails with a message.
Entry stored_entry(const std::string &card, const std::string &directory,
                   const std::string &name);

// The first column of the first row of `sql` on the database file at
// `path`, read with SQLite itself, as text, or what failed.
std::string first_value(const std::string &path, const char *sql);

// The number of rows in the database file at `path`, or -1 on failure.
int count_entries(const std::string &path);

// What SQLite's integrity check says of the database file at `path`: "ok"
// for a sound file.
std::string integrity_check(const std::string &path);

// Runs an SQL script on the database file at `path` with SQLite itself;
// fails the test on error.
void run_sql(const std::string &path, const std::string &sql);

// Runs `sql` on the database file at `path` in a child process that ends
// without closing the database, as a writer killed there does.
void end_without_closing(const std::string &path, const std::string &sql);

// Runs `sql` as end_without_closing does, inside a transaction: the file is
// left half written, with a hot journal beside it.
void leave_hot_journal(const std::string &path, const std::string &sql);

// Holds SQLite's lock on the database file at `path` in a child process,
// from the time `begin` ("BEGIN IMMEDIATE", "BEGIN EXCLUSIVE") has run there
// to the destruction of this object.
class HeldLock {
 public:
  HeldLock(const std::string &path, const char *begin);
  HeldLock(const HeldLock &) = delete;
  HeldLock &operator=(const HeldLock &) = delete;
  ~HeldLock();

 private:
  pid_t child_ = -1;
};

}  // namespace vorn::testing

#endif
