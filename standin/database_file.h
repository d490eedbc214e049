// The database file: opening one that the library wrote, or creating the
// schema in a new one, with settings for a file that anyone may have
// written.
#ifndef ZEROVORA_DATABASE_FILE_H
#define ZEROVORA_DATABASE_FILE_H

#include <string>

#include "sqlite_owners.h"

namespace zerovora {

// Opens the database file at `path` (which may_open accepted), creating the
// schema when the file is missing or empty. Returns null when the file does
// not open or is not a database that this library wrote; such a file and
// its journal are left as they are.
Database open_database(const std::string &path);

}  // namespace zerovora

#endif
