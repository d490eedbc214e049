// The entries: lookups, adds and changes, their failure codes, the limits on
// what is read and written, and several processes at once.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "database.h"
#include "files.h"
#include "standin_fixture.h"

namespace vorn::testing {
namespace {

TEST_F(StandInTest, EntriesBeyondTheLimitsAreFailuresAndStayAsTheyAre) {
  add_sample();
  zerovora_global *global = open();
  ASSERT_NE(global, nullptr);
  const std::string too_long(ZEROVORA_MAX_ENTRY_LENGTH, 'x');
  EXPECT_EQ(zerovora_global_add_file(global, "/e", "f", 1, 2, too_long.c_str(),
                                     "", ""),
            ZEROVORA_ERROR_ARGUMENT);
  zerovora_close(global);
  // The library bounds SQLite's heap in its process once it opens; the
  // entries beyond the limits are made without that bound.
  sqlite3_hard_heap_limit64(0);
  run_sql(file_,
          "INSERT INTO files VALUES ('/d', 'big value', 1, 2, 't', 'a', "
          "cast(zeroblob(" +
              std::to_string(ZEROVORA_MAX_ENTRY_LENGTH + 1) +
              ") AS TEXT));"
              "INSERT INTO files VALUES ('/d', 'key' || cast(zeroblob(" +
              std::to_string(17 << 20) + ") AS TEXT), 1, 2, 't', 'a', 'g')");
  const std::string before = read_file(file_);
  global = open();
  ASSERT_NE(global, nullptr);
  metadata_table *wanted = table_of({"tag"});
  metadata_table *found = nullptr;
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "big value", wanted, &found),
            ZEROVORA_ERROR_CORRUPT);
  EXPECT_EQ(found, nullptr);
  // Looking up a key beside the oversized one compares the two.
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "key", wanted, &found),
            ZEROVORA_ERROR_NO_MEMORY);
  metadata_table_free_impl(wanted);
  zerovora_close(global);
  EXPECT_TRUE(read_file(file_) == before) << "the file changed";
}

TEST_F(StandInTest, AWriteLockHeldLongerThanTheWaitIsBusy) {
  add_sample();
  zerovora_global *global = open();
  ASSERT_NE(global, nullptr);
  {
    const HeldLock lock(file_, "BEGIN IMMEDIATE");
    EXPECT_EQ(zerovora_global_add_file(global, "/d", "g", 1, 2, "t", "a", "g"),
              ZEROVORA_ERROR_BUSY);
  }
  zerovora_close(global);
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, GetHandsBackTheRequestedColumnsInOrder) {
  add_sample();
  zerovora_global *global = open();
  metadata_table *wanted =
      table_of({"tag", "mtime", "title", "size", "author"});
  metadata_table *found = nullptr;
  ASSERT_EQ(zerovora_global_get_file(global, "/d", "f", wanted, &found),
            ZEROVORA_OK);
  ASSERT_EQ(metadata_table_get_column_count(found), 5);
  const char *expected[][2] = {{"tag", "tag"},
                               {"mtime", "34"},
                               {"title", "Title"},
                               {"size", "12"},
                               {"author", "Author"}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(metadata_table_get_column_name(found, i), expected[i][0]);
    EXPECT_STREQ(metadata_table_get_text(found, i), expected[i][1]);
  }
  metadata_table_free_impl(found);

  EXPECT_EQ(zerovora_global_get_file(global, "/d", "f", wanted, nullptr),
            ZEROVORA_OK);
  metadata_table *untouched = wanted;
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "g", wanted, &untouched),
            ZEROVORA_ERROR_NOT_FOUND);
  EXPECT_EQ(untouched, wanted);
  EXPECT_EQ(zerovora_global_get_file(global, "/d/", "f", wanted, nullptr),
            ZEROVORA_ERROR_NOT_FOUND);
  metadata_table_free_impl(wanted);
  zerovora_close(global);
}

TEST_F(StandInTest, AddRefusesAnExistingEntryAndKeepsIt) {
  add_sample();
  zerovora_global *global = open();
  EXPECT_EQ(
      zerovora_global_add_file(global, "/d", "f", 99, 99, "New", "New", "new"),
      ZEROVORA_ERROR_EXISTS);
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Title", "Author", "tag"}));
}

TEST_F(StandInTest, ChangeSetsOnlyTheNamedColumns) {
  add_sample();
  zerovora_global *global = open();
  metadata_table *values = table_of({"title"});
  metadata_table_set_text(values, 0, "Other");
  EXPECT_EQ(zerovora_global_change_file(global, "/d", "f", values),
            ZEROVORA_OK);
  EXPECT_EQ(zerovora_global_change_file(global, "/d", "g", values),
            ZEROVORA_ERROR_NOT_FOUND);
  metadata_table_free_impl(values);
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Other", "Author", "tag"}));
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, ChangeRefusesBadTablesAndChangesNothing) {
  add_sample();
  zerovora_global *global = open();
  struct Case {
    std::vector<const char *> names;
    bool fill;
  };
  const Case cases[] = {
      {{}, true},                  // empty
      {{"title", "bogus"}, true},  // unknown name
      {{"title; DROP TABLE files"}, true},
      {{"title", "size"}, true},  // read-only attribute
      {{"tag", "tag"}, true},     // twice
      {{"tag", "title"}, false},  // without values
  };
  for (const auto &c : cases) {
    metadata_table *values = table_of(c.names);
    for (int i = 0; c.fill && i < int(c.names.size()); ++i) {
      metadata_table_set_text(values, i, "changed");
    }
    EXPECT_EQ(zerovora_global_change_file(global, "/d", "f", values),
              ZEROVORA_ERROR_ARGUMENT)
        << (c.names.empty() ? "(empty)" : c.names.back());
    metadata_table_free_impl(values);
  }
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Title", "Author", "tag"}));
}

TEST_F(StandInTest, StoresBytesVerbatim) {
  const std::string hostile =
      "%s%n%x 'q' \"dq\" ); DROP TABLE files; --\n\t\xff\xfe\xc3\xa9";
  zerovora_global *global = open();
  ASSERT_EQ(
      zerovora_global_add_file(global, hostile.c_str(), hostile.c_str(), -5, -6,
                               hostile.c_str(), "", hostile.c_str()),
      ZEROVORA_OK);
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, hostile, hostile),
            (Entry{-5, -6, hostile, "", hostile}));
}

TEST_F(StandInTest, ProcessesAddingOneEntryAtOnceLeaveOneWinner) {
  add_sample();
  constexpr int kProcesses = 8;
  const auto statuses = in_processes(kProcesses, [this](int i) {
    zerovora_global *global = open();
    if (global == nullptr) return 100;
    const std::string title = std::to_string(i);
    const int result = zerovora_global_add_file(global, "/d", "same", 1, 2,
                                                title.c_str(), "a", "t");
    zerovora_close(global);
    return result;
  });
  int winner = -1;
  for (int i = 0; i < kProcesses; ++i) {
    if (statuses[i] == 0) {
      EXPECT_EQ(winner, -1) << "two processes added the entry";
      winner = i;
    } else {
      EXPECT_EQ(statuses[i], ZEROVORA_ERROR_EXISTS) << "process " << i;
    }
  }
  ASSERT_NE(winner, -1);
  EXPECT_EQ(stored_entry(dir_, "/d", "same").title, std::to_string(winner));
  EXPECT_EQ(count_entries(file_), 2);
}

}  // namespace
}  // namespace vorn::testing
