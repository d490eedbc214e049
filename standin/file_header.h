// The database file's header, judged before SQLite reads the file.
#ifndef ZEROVORA_FILE_HEADER_H
#define ZEROVORA_FILE_HEADER_H

#include <sqlite3.h>

namespace zerovora {

enum class FileHeader {
  kEmpty,   // an empty file, which may become a new database
  kMarked,  // the header of one of our databases
  kOther,   // anything else, never to be read or written through SQLite
};

// Judges the main database file of `db`, just opened and not read yet, from
// its size on disk and its first 100 bytes, read through SQLite's own file
// without taking a lock: SQLite rolls back a journal that it finds beside
// the file at its first read, so a file that is not ours must be refused
// before then for it and its journal to stay as they are. Ours has SQLite's
// magic, a rollback journal, UTF-8 text and our application id and schema
// version. (Reading it through a descriptor of our own would not do: closing
// that would drop the locks that SQLite holds on the file in this process.)
FileHeader judge_file_header(sqlite3 *db);

}  // namespace zerovora

#endif
