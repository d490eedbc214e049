// SPDX-License-Identifier: MIT
// The lookup and the writes of the stand-in find their entry through the
// key's unique index and never scan the table, so that a run costs the same
// on a card with a million entries as on an empty one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sqlite_owners.h"
#include "standin_fixture.h"
#include "statements.h"

namespace vorn::testing {
namespace {

using zerovora::Statement;

class QueryPlanTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    ASSERT_TRUE(open()) << "the library creates the schema";
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(file_.c_str(), &db), SQLITE_OK);
    db_.reset(db);
  }

  // The details of the query plan of `sql`, one row each, in the words of
  // SQLite 3.36 on ("SEARCH files", where older versions say "SEARCH TABLE
  // files").
  std::vector<std::string> plan(const std::string &sql) {
    std::vector<std::string> rows;
    Statement stmt;
    EXPECT_EQ(zerovora::prepare(db_.get(),
                                ("EXPLAIN QUERY PLAN " + sql).c_str(), stmt),
              SQLITE_OK)
        << sqlite3_errmsg(db_.get());
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
      std::string row =
          reinterpret_cast<const char *>(sqlite3_column_text(stmt.get(), 3));
      for (const std::string verb : {"SEARCH ", "SCAN "}) {
        if (row.rfind(verb + "TABLE ", 0) == 0) row.erase(verb.size(), 6);
      }
      rows.push_back(row);
    }
    return rows;
  }

  zerovora::Database db_;
};

const std::vector<std::string> kByKey = {
    "SEARCH files USING INDEX sqlite_autoindex_files_1 (directory=? AND "
    "name=?)"};

TEST_F(QueryPlanTest, TheLookupSearchesTheKeyIndex) {
  EXPECT_EQ(plan(zerovora::select_entry_sql(
                {"size", "mtime", "title", "author", "tag"})),
            kByKey);
  EXPECT_EQ(plan(zerovora::select_entry_sql({"tag"})), kByKey);
  // Whether the entry exists is read from the index alone.
  EXPECT_EQ(plan(zerovora::select_entry_sql({})),
            std::vector<std::string>{
                "SEARCH files USING COVERING INDEX sqlite_autoindex_files_1 "
                "(directory=? AND name=?)"});
}

TEST_F(QueryPlanTest, TheChangeSearchesTheKeyIndex) {
  EXPECT_EQ(plan(zerovora::update_entry_sql({"tag", "title", "author"})),
            kByKey);
  EXPECT_EQ(plan(zerovora::update_entry_sql({"title"})), kByKey);
}

// An insert has no query plan: whether it scans shows in the steps that its
// statement counts, on a table with entries.
TEST_F(QueryPlanTest, TheAddScansNoTable) {
  run_sql(file_,
          "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c "
          "WHERE i < 100) INSERT INTO files SELECT '/d', i, 1, 2, 't', 'a', "
          "'g' FROM c");
  Statement stmt;
  ASSERT_EQ(zerovora::prepare(db_.get(), zerovora::kInsertEntry, stmt),
            SQLITE_OK);
  for (int i = 1; i <= 7; ++i)
    sqlite3_bind_text(stmt.get(), i, "x", -1, nullptr);
  EXPECT_EQ(sqlite3_step(stmt.get()), SQLITE_DONE);
  EXPECT_EQ(sqlite3_stmt_status(stmt.get(), SQLITE_STMTSTATUS_FULLSCAN_STEP, 0),
            0);
}

}  // namespace
}  // namespace vorn::testing
