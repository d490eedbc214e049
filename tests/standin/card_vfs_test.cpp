// SPDX-License-Identifier: MIT
// The card's VFS: whatever the checks before it let through, SQLite reaches
// the database file and its journal through it, and nothing else.
#include "card_vfs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "database.h"
#include "files.h"
#include "sqlite_owners.h"
#include "standin_fixture.h"

namespace vorn::testing {
namespace {

// Runs each of `statements` through `vfs`, expecting `ok` of the first and
// a failure of every other.
void expect_only_first_runs(const zerovora::CardVfs &vfs,
                            std::initializer_list<const char *> statements) {
  sqlite3 *raw = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2(vfs.database().c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, vfs.name()),
      SQLITE_OK);
  const zerovora::Database db(raw);
  bool first = true;
  for (const char *sql : statements) {
    EXPECT_EQ(
        sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK,
        first)
        << sql;
    first = false;
  }
}

TEST_F(StandInTest, TheCardsVfsReachesTheDatabaseAndItsJournalAlone) {
  add_sample();
  write_file(kCard + "/book.epub", "book");
  zerovora::Failure why;
  const auto vfs = zerovora::CardVfs::make(file_, why);
  ASSERT_TRUE(vfs);
  sqlite3_vfs *card_vfs = sqlite3_vfs_find(vfs->name());
  ASSERT_NE(card_vfs, nullptr);
  EXPECT_NE(card_vfs, sqlite3_vfs_find(nullptr)) << "registered as the default";

  Tree before = tree_of(kMedia);
  expect_only_first_runs(
      *vfs, {"UPDATE files SET tag = 'new'", "ATTACH '/media/other.db' AS o",
             "PRAGMA temp_store = FILE; PRAGMA temp.cache_size = 1; CREATE "
             "TEMP TABLE t AS WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL "
             "SELECT i + 1 FROM c WHERE i < 100) SELECT randomblob(5000) FROM "
             "c"});
  EXPECT_NE(card_vfs->xDelete(card_vfs, (kCard + "/book.epub").c_str(), 0),
            SQLITE_OK);
  EXPECT_EQ(changes(before, tree_of(kMedia)), "changed " + file_ + "\n");

  // Our file asking for a write-ahead log, with one beside it.
  run_sql(file_, "PRAGMA journal_mode = WAL");
  write_file(file_ + "-wal", std::string(4096, 'w'));
  before = tree_of(kMedia);
  int exists = 1;
  EXPECT_EQ(card_vfs->xAccess(card_vfs, (file_ + "-wal").c_str(),
                              SQLITE_ACCESS_EXISTS, &exists),
            SQLITE_OK);
  EXPECT_EQ(exists, 0);
  expect_only_first_runs(*vfs, {"SELECT 1", "SELECT count(*) FROM files"});
  EXPECT_EQ(changes(before, tree_of(kMedia)), "");

  // The database file itself is there; another file is no journal.
  EXPECT_EQ(card_vfs->xAccess(card_vfs, vfs->database().c_str(),
                              SQLITE_ACCESS_EXISTS, &exists),
            SQLITE_OK);
  EXPECT_EQ(exists, 1);
  std::vector<char> file(static_cast<std::size_t>(card_vfs->szOsFile));
  EXPECT_EQ(card_vfs->xOpen(card_vfs, (kCard + "/book.epub").c_str(),
                            reinterpret_cast<sqlite3_file *>(file.data()),
                            SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_READWRITE,
                            nullptr),
            SQLITE_CANTOPEN);
  // A journal opened to be read that is not there: nothing is made, not
  // even for a moment (it could be another writer's, being made now).
  struct stat folder {};
  ASSERT_EQ(stat(kCard.c_str(), &folder), 0);
  const auto made =
      folder.st_mtim.tv_nsec + folder.st_mtim.tv_sec * 1000000000LL;
  EXPECT_EQ(
      card_vfs->xOpen(card_vfs, vfs->journal().c_str(),
                      reinterpret_cast<sqlite3_file *>(file.data()),
                      SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_READONLY, nullptr),
      SQLITE_CANTOPEN);
  ASSERT_EQ(stat(kCard.c_str(), &folder), 0);
  EXPECT_EQ(folder.st_mtim.tv_nsec + folder.st_mtim.tv_sec * 1000000000LL, made)
      << "a file was made and removed in the card's folder";
}

}  // namespace
}  // namespace vorn::testing
