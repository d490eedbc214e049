// SPDX-License-Identifier: MIT
// The card: whether a file system is mounted where the database is to be
// kept, and what may stand in the database file's place there.
#ifndef ZEROVORA_CARD_H
#define ZEROVORA_CARD_H

#include <string>

#include "card_names.h"
#include "failure.h"

namespace zerovora {

// The database file's name in the card's root directory: hidden, so that
// the file stays out of the way on a media card.
inline constexpr const char *kDatabaseFileName = VORN_DATABASE_FILE_NAME;

// True when `directory` is a directory at which a file system is mounted: a
// card, not a folder of the file system that a card would be mounted on.
// Mount points usually stay when the card is out, and what is written there
// would be hidden once a card is in. A bind mount counts. When it is no
// card because it can't be examined (not for want of a directory there),
// `why` gets the cause; otherwise its cause is empty.
bool is_card(const char *directory, Failure &why);

// True when the database file at `path` and its journal may be opened,
// judged before SQLite reads either:
//   - each is nothing or a regular file with a single link (a symbolic
//     link, a folder or a device could lead the library off the card, and
//     so could a hard link);
//   - nothing at all is at the write-ahead log's or its index's place
//     ("-wal", "-shm"): the library never uses a write-ahead log, so the
//     file was written by something else.
// (What the journal holds is judged with the file's header, once SQLite
// has opened the file: judge_before_reading.) When they may not, `why`
// gets the file concerned and the cause.
bool may_open(const std::string &path, Failure &why);

}  // namespace zerovora

#endif
