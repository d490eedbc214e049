// What is in the database file's place on the card, judged before SQLite
// reads it: SQLite rolls back a journal that it finds beside the file at its
// first read, so a file that is not ours must be refused before then for it
// and its journal to stay as they are.
#ifndef ZEROVORA_CARD_FILE_H
#define ZEROVORA_CARD_FILE_H

#include <sqlite3.h>

#include <string>

namespace zerovora {

// True when the database file at `path` and its journal may be opened:
// each is nothing or a regular file with a single link. A symbolic link, a
// folder or a device could lead the library off the card, and so could a
// hard link.
bool may_open(const std::string &path);

enum class FileHeader {
  kEmpty,   // an empty file, which may become a new database
  kMarked,  // the header of one of our databases
  kOther,   // anything else, never to be read or written through SQLite
};

// Judges the main database file of `db`, just opened and not read yet, from
// its size on disk and its first 100 bytes, read through SQLite's own file
// without taking a lock. Ours has SQLite's magic, a rollback journal, UTF-8
// text and our application id and schema version. (Reading it through a
// descriptor of our own would not do: closing that would drop the locks that
// SQLite holds on the file in this process.)
FileHeader judge_file_header(sqlite3 *db);

}  // namespace zerovora

#endif
