// The card: whether a file system is mounted where the database is to be
// kept, and what may stand in the database file's place there.
#ifndef ZEROVORA_CARD_H
#define ZEROVORA_CARD_H

#include <string>

namespace zerovora {

// The database file's name in the card's root directory: hidden, so that
// the file stays out of the way on a media card.
inline constexpr const char *kDatabaseFileName = ".zerovora-global.db";

// True when `directory` is a directory at which a file system is mounted: a
// card, not a folder of the file system that a card would be mounted on.
// Mount points usually stay when the card is out, and what is written there
// would be hidden once a card is in. A bind mount counts.
bool is_card(const char *directory);

// True when the database file at `path` and its journal may be opened:
// each is nothing or a regular file with a single link. A symbolic link, a
// folder or a device could lead the library off the card, and so could a
// hard link.
bool may_open(const std::string &path);

}  // namespace zerovora

#endif
