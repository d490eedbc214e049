// SPDX-License-Identifier: MIT
// Why a call of the library failed, told on standard error as one line:
// "zerovora: PATH: CAUSE". The code that decides on a failure words its
// cause; the C function that the caller called tells it, once, on its way
// out.
#ifndef ZEROVORA_FAILURE_H
#define ZEROVORA_FAILURE_H

#include <sqlite3.h>

#include <string>

namespace zerovora {

struct Failure {
  // The file concerned (the database file, its journal, a side file), or
  // empty for none.
  std::string path;
  // What went wrong, in plain words.
  std::string cause;
};

// True when `error`, an errno, means that the card has no room left: no
// free space, inode or directory entry (a full root directory on FAT), or
// no quota.
bool is_out_of_room(int error);

// The system's reason for `error`, an errno, as a line tells it: "the card
// is full" when the card has no room left, otherwise strerror's text.
std::string reason(int error);

// Writes `failure` as one line on standard error, "zerovora: PATH: CAUSE"
// (or "zerovora: CAUSE" without a path). Control bytes and backslashes are
// written as \xHH: a path or a cause may hold what a card wrote, which must
// not reach a terminal as it is.
void tell(const Failure &failure);

// The library's result code for SQLite's result `rc` on `db` (which may be
// null), and its cause in plain words: for an I/O error, the system's
// reason.
struct Mapped {
  int code;
  std::string cause;
};
Mapped from_sqlite(sqlite3 *db, int rc);

// Tells the failure of SQLite's result `rc` on `db`, for its main database
// file, and returns the library's code for it; returns ZEROVORA_OK,
// telling nothing, when `rc` is a success.
int tell_sqlite(sqlite3 *db, int rc);

// Tells that `function` (a C function's name) was called with an invalid
// argument, and returns ZEROVORA_ERROR_ARGUMENT. Allocates nothing.
int tell_invalid_argument(const char *function) noexcept;

// Tells that memory ran out, and returns ZEROVORA_ERROR_NO_MEMORY.
// Allocates nothing.
int tell_out_of_memory() noexcept;

}  // namespace zerovora

#endif
