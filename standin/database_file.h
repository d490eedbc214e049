// SPDX-License-Identifier: MIT
// The database file: opening one that the library wrote, or creating the
// schema in a new one, with settings for a file that anyone may have
// written.
#ifndef ZEROVORA_DATABASE_FILE_H
#define ZEROVORA_DATABASE_FILE_H

#include <sys/types.h>

#include <string>

#include "card_vfs.h"
#include "failure.h"
#include "sqlite_owners.h"

namespace zerovora {

// Which file a path names.
struct FileId {
  dev_t device;
  ino_t inode;
};

// Removes the database file at `path`, that of `db`, which this run made
// as `made` and could not write the schema into, so that a failed run
// leaves the card as it found it: only while the path still names that
// file and it is still empty, and under SQLite's exclusive lock, so that no
// other process writes it meanwhile (one that opened it finds it gone when
// it takes the write lock, and refuses it). A file that another process
// holds, even for reading, stays.
void remove_made_file(sqlite3 *db, const std::string &path, const FileId &made);

// Opens the database file of `vfs` (which may_open accepted) through it,
// creating the schema when the file is missing or empty. Returns null when
// the file does not open or is not a database that this library wrote, and
// sets `why` to the file concerned and the cause; such a file and its
// journal are left as they are, and a file that this call made and could
// not write the schema into is removed. The connection must be closed
// before `vfs` goes.
Database open_database(const CardVfs &vfs, Failure &why);

}  // namespace zerovora

#endif
