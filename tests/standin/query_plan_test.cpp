// The lookup and the writes of the stand-in find their entry through the
// key's unique index and never scan the table, so that a run costs the same
// on a card with a million entries as on an empty one.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "private_card.h"
#include "statements.h"
#include "zerovora.h"

namespace zerovora {
namespace {

class QueryPlanTest : public vorn::testing::PrivateCardTest {
 protected:
  void SetUp() override {
    PrivateCardTest::SetUp();
    dir_ = vorn::testing::kCard;
    // The library creates the schema.
    zerovora_global *global = zerovora_global_open(dir_.c_str(), 0);
    ASSERT_NE(global, nullptr);
    zerovora_close(global);
    ASSERT_EQ(sqlite3_open(vorn::testing::kDatabaseFile.c_str(), &db_),
              SQLITE_OK);
  }
  void TearDown() override {
    sqlite3_close(db_);
    PrivateCardTest::TearDown();
  }

  // The details of the query plan of `sql`, one row each, in the words of
  // SQLite 3.36 on ("SEARCH files", where older versions say "SEARCH TABLE
  // files").
  std::vector<std::string> plan(const std::string &sql) {
    std::vector<std::string> rows;
    sqlite3_stmt *stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1,
                                 &stmt, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db_);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string row =
          reinterpret_cast<const char *>(sqlite3_column_text(stmt, 3));
      for (const std::string verb : {"SEARCH ", "SCAN "}) {
        if (row.rfind(verb + "TABLE ", 0) == 0) row.erase(verb.size(), 6);
      }
      rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  std::string dir_;
  sqlite3 *db_ = nullptr;
};

constexpr const char *kByKey =
    "SEARCH files USING INDEX sqlite_autoindex_files_1 (directory=? AND "
    "name=?)";

TEST_F(QueryPlanTest, TheLookupSearchesTheKeyIndex) {
  EXPECT_EQ(plan(kSelectEntry), std::vector<std::string>{kByKey});
}

TEST_F(QueryPlanTest, TheChangeSearchesTheKeyIndex) {
  EXPECT_EQ(plan(update_entry_sql({"tag", "title", "author"})),
            std::vector<std::string>{kByKey});
  EXPECT_EQ(plan(update_entry_sql({"title"})),
            std::vector<std::string>{kByKey});
}

// An insert has no query plan: whether it scans shows in the steps that its
// statement counts, on a table with entries.
TEST_F(QueryPlanTest, TheAddScansNoTable) {
  ASSERT_EQ(sqlite3_exec(db_,
                         "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i "
                         "+ 1 FROM c WHERE i < 100) INSERT INTO files SELECT "
                         "'/d', i, 1, 2, 't', 'a', 'g' FROM c",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_stmt *stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db_, kInsertEntry, -1, &stmt, nullptr),
            SQLITE_OK);
  for (int i = 1; i <= 7; ++i) sqlite3_bind_text(stmt, i, "x", -1, nullptr);
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_DONE);
  EXPECT_EQ(sqlite3_stmt_status(stmt, SQLITE_STMTSTATUS_FULLSCAN_STEP, 0), 0);
  sqlite3_finalize(stmt);
}

}  // namespace
}  // namespace zerovora
