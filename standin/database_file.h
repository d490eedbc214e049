// The database file: opening one that the library wrote, or creating the
// schema in a new one, with settings for a file that anyone may have
// written.
#ifndef ZEROVORA_DATABASE_FILE_H
#define ZEROVORA_DATABASE_FILE_H

#include <string>

#include "card_vfs.h"
#include "failure.h"
#include "sqlite_owners.h"

namespace zerovora {

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
