// SPDX-License-Identifier: MIT
// Records one file's title, author and tag in the card's global metadata
// database.
#ifndef VORN_REGISTRATION_SET_FILE_METADATA_H
#define VORN_REGISTRATION_SET_FILE_METADATA_H

#include "card_names.h"

namespace vorn {

// The directory where the card is mounted and the global database is kept.
inline constexpr const char *kMediaRoot = VORN_MEDIA_ROOT;

// set_file_metadata's own results, beside 0 and the library's failure codes
// (small positive numbers), which it passes on. vorn exits with a result as
// it is, modulo 256: these are its exit statuses 255, 66 and 65 too.

// set_file_metadata's result when the global database does not open.
inline constexpr int kResultDatabaseUnavailable = -1;

// set_file_metadata's result when the database holds no entry for the file
// and the file's status (size, modification time) can't be read: nothing is
// added. Distinct from the library's failure codes.
inline constexpr int kResultFileUnreadable = 66;

// set_file_metadata's result when `path` names no file entry: it is empty,
// or it ends with a slash (for which the directory part and the base name
// would both name the folder). Nothing is opened, added or changed.
inline constexpr int kResultNotAFileName = 65;

// Brings the entry of the file at `path` in the global database at
// kMediaRoot up to date with `title`, `author` and `tag`. None may be null;
// all are read during the call and never kept.
//
// The entry is keyed by the directory part and the base name of `path`
// exactly as given (not made absolute, not normalised). When the database
// holds no entry, one is added with the file's size and modification time;
// when it holds one, its tag, title and author are changed and its size and
// time are kept. The file's contents are never opened.
//
// Returns 0 on success; kResultNotAFileName, after one line on standard
// error, when `path` is empty or ends with a slash; kResultDatabaseUnavailable
// when the database does not open, after printing "failed to open globaldb." to
// standard output; kResultFileUnreadable when a new entry would be needed but
// the file's status can't be read, after one line on standard error naming the
// file and the reason; otherwise the library's failure code from the add, from
// filling the values table or from the change.
int set_file_metadata(const char *path, const char *title, const char *author,
                      const char *tag);

}  // namespace vorn

#endif
