// SPDX-License-Identifier: MIT
// What a database file on the card is, judged from its header before SQLite
// reads it and from its header and schema after, and whether the journal
// beside it is one of the library's: the one place that tells the library's
// files from others.
#ifndef ZEROVORA_FILE_JUDGEMENT_H
#define ZEROVORA_FILE_JUDGEMENT_H

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>

#include "failure.h"
#include "schema.h"

namespace zerovora {

// A mark of the library's files in SQLite's file header: the value of
// `size` bytes (big-endian) at `offset`. A file that differs in any one of
// them (or lacks SQLite's magic) was not written by the library.
struct HeaderMark {
  const char *name;     // the field, as SQLite's file format names it
  const char *differs;  // what a file with another value there is
  std::size_t offset;
  std::size_t size;
  std::uint32_t value;
};
inline constexpr HeaderMark kHeaderMarks[] = {
    {"write version", "a write-ahead log or a newer format", 18, 1, 1},
    {"read version", "a write-ahead log or a newer format", 19, 1, 1},
    {"text encoding", "text not in UTF-8", 56, 4, 1},
    {"user version", "another schema version", 60, 4, kSchemaVersion},
    {"application id", "another application id", 68, 4, kApplicationId},
};

enum class FileIs {
  kBlank,    // nothing written yet: it may become a new database
  kOurs,     // one of the library's databases
  kForeign,  // anything else, never to be written through SQLite
};

// Judges the main database file of `db`, just opened and not read yet, from
// its size on disk and its first 100 bytes, read through SQLite's own file
// without taking a lock: SQLite rolls back a journal that it finds beside
// the file at its first read, so a file that is not ours must be refused
// before then for it and its journal to stay as they are. Ours has SQLite's
// magic and the marks of kHeaderMarks; kBlank is a file that is empty on
// disk. A file that is no longer
// the one at its path (another run made it and removed it) is foreign, and
// so is one whose journal was not written by the library: one that names a
// super-journal or would restore a larger file than there is (SQLite would
// delete the file it names, or grow the database file to the size it
// gives).
// (Reading it through a descriptor of our own would not do: closing that
// would drop the locks that SQLite holds on the file in this process.)
// When the file is foreign, `why` gets the cause (and the journal's path
// when the journal is the cause).
FileIs judge_before_reading(sqlite3 *db, Failure &why);

// Judges the main database file of `db` inside a transaction that the
// caller holds, so that no writer changes it meanwhile. This is the first
// read of the file in the transaction, so SQLite rolls back here what a
// killed writer left half done, and the file is judged as the rollback left
// it: ours has the header of ours, is as long as its header counts, and
// holds exactly our schema; kBlank has no marks and no schema as SQLite sees
// it (a write transaction on an empty file counts one page that is not on
// disk yet). When the file is foreign, or can't be read, `why` gets the
// cause.
FileIs judge_after_reading(sqlite3 *db, Failure &why);

}  // namespace zerovora

#endif
