// SPDX-License-Identifier: MIT
// The files of the card that SQLite may reach: the database file and its
// rollback journal, and nothing else, whatever the card holds.
#ifndef ZEROVORA_CARD_VFS_H
#define ZEROVORA_CARD_VFS_H

#include <sqlite3.h>

#include <memory>
#include <string>

#include "failure.h"

namespace zerovora {

// An SQLite VFS for one database file, registered under a name of its own
// (never as the default), that wraps the default VFS:
//   - it opens only the database file and its journal beside it, never
//     through a symbolic link; any other open, a temporary file's included,
//     fails with SQLITE_CANTOPEN, so temporary data must be kept in memory;
//   - it deletes only the journal; deleting anything else fails;
//   - it answers that no other file exists, so that SQLite never opens a
//     write-ahead log, nor reads, opens or deletes a super-journal that a
//     journal names;
//   - the files it opens have no shared memory, so that SQLite can't use a
//     write-ahead log even for a file whose header asks for one.
// Every connection opened through it must be closed before it is destroyed.
class CardVfs {
 public:
  // Registers a VFS for the database file at `path`. Returns null, and
  // sets `why` to the path and the cause, when SQLite can't name the file
  // (its path leads through a symbolic link, or can't be examined), when
  // the default VFS is missing, or when registering fails.
  static std::unique_ptr<CardVfs> make(const std::string &path, Failure &why);

  CardVfs(const CardVfs &) = delete;
  CardVfs &operator=(const CardVfs &) = delete;
  ~CardVfs();

  // The name to open the database with (sqlite3_open_v2's last argument).
  const char *name() const { return name_.c_str(); }
  // The database file's path, as SQLite names it.
  const std::string &database() const { return database_; }
  // Its journal's path.
  const std::string &journal() const { return journal_; }

 private:
  CardVfs(sqlite3_vfs *inner, std::string database);

  friend struct CardVfsMethods;

  sqlite3_vfs *inner_;
  std::string database_;
  std::string journal_;
  std::string name_;
  sqlite3_vfs vfs_{};
  // The errno of the last call of its files that failed with an I/O error,
  // or of its last failed open.
  mutable int last_error_ = 0;
};

}  // namespace zerovora

#endif
