// The card's VFS: whatever the checks before it let through, SQLite reaches
// the database file and its journal through it, and nothing else.
#include "card_vfs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <initializer_list>
#include <string>

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
  const auto vfs = zerovora::CardVfs::make(file_);
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
}

}  // namespace
}  // namespace vorn::testing
