// SPDX-License-Identifier: MIT
// The entries: lookups, adds and changes, their failure codes, the limits on
// what is read and written, and several processes at once.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "bounds.h"
#include "files.h"
#include "sqlite_owners.h"
#include "standin_fixture.h"

namespace vorn::testing {
namespace {

TEST_F(StandInTest, EntriesBeyondTheLimitsAreRefusedOrFoundAndStayAsTheyAre) {
  add_sample();
  const std::string too_long(zerovora::kMaxEntryLength, 'x');
  expect_failure(
      [&] {
        return zerovora_global_add_file(open().get(), "/e", "f", 1, 2,
                                        too_long.c_str(), "", "");
      },
      ZEROVORA_ERROR_ARGUMENT,
      "zerovora: " + file_ +
          ": an entry longer than the library writes (1048576 bytes)\n");
  // The library bounds SQLite's heap in its process once it opens; the
  // entries beyond the limits are made without that bound.
  sqlite3_hard_heap_limit64(0);
  const std::string big = "cast(zeroblob(" +
                          std::to_string(zerovora::kMaxEntryLength + 1) +
                          ") AS TEXT)";
  const std::string key =
      "cast(zeroblob(" + std::to_string(17 << 20) + ") AS TEXT)";
  run_sql(file_,
          "INSERT INTO files VALUES ('/d', 'big value', 1, 2, 't', 'a', " +
              big + "); INSERT INTO files VALUES ('/d', 'key' || " + key +
              ", 1, 2, 't', 'a', 'g')");
  const std::string before = read_file(file_);
  const auto global = open();
  ASSERT_TRUE(global);
  const auto wanted = table_of({"tag"});
  metadata_table *found = nullptr;
  // The entry with a value too long to hand back is found all the same,
  // with no table handed back.
  expect_failure(
      [&] {
        return zerovora_global_get_file(global.get(), "/d", "big value",
                                        wanted.get(), &found);
      },
      ZEROVORA_OK, "");
  EXPECT_EQ(found, nullptr);
  // A key longer than the limit is an argument the library never wrote.
  const std::string longer(zerovora::kMaxEntryLength + 1, 'k');
  expect_failure(
      [&] {
        return zerovora_global_get_file(global.get(), "/d", longer.c_str(),
                                        wanted.get(), &found);
      },
      ZEROVORA_ERROR_ARGUMENT, "");
  // Looking up a key beside the oversized one compares the two.
  expect_failure(
      [&] {
        return zerovora_global_get_file(global.get(), "/d", "key", wanted.get(),
                                        &found);
      },
      ZEROVORA_ERROR_NO_MEMORY, "");
  EXPECT_TRUE(read_file(file_) == before) << "the file changed";

  // A change that keeps the too-long value writes the entry all the same;
  // one whose own values make the entry too long is refused.
  const auto title = table_of({"title"});
  metadata_table_set_text(title.get(), 0, "T");
  expect_failure(
      [&] {
        return zerovora_global_change_file(global.get(), "/d", "big value",
                                           title.get());
      },
      ZEROVORA_OK, "");
  EXPECT_EQ(
      first_value(file_,
                  "SELECT title || ' ' || length(CAST(tag AS BLOB)) FROM files "
                  "WHERE name = 'big value'"),
      "T " + std::to_string(zerovora::kMaxEntryLength + 1));
  const std::string half(zerovora::kMaxEntryLength / 2 + 1, 'h');
  const auto halves = table_of({"title", "author"});
  metadata_table_set_text(halves.get(), 0, half.c_str());
  metadata_table_set_text(halves.get(), 1, half.c_str());
  expect_failure(
      [&] {
        return zerovora_global_change_file(global.get(), "/d", "f",
                                           halves.get());
      },
      ZEROVORA_ERROR_ARGUMENT,
      "zerovora: " + file_ +
          ": an entry longer than the library writes (1048576 bytes)\n");
  EXPECT_EQ(read_entry(kCard, "/d", "f"), kSample);
}

TEST_F(StandInTest, AWriteLockHeldLongerThanTheWaitIsBusy) {
  add_sample();
  const auto global = open();
  const HeldLock lock(file_, "BEGIN IMMEDIATE");
  expect_failure(
      [&] {
        return zerovora_global_add_file(global.get(), "/d", "g", 1, 2, "t", "a",
                                        "g");
      },
      ZEROVORA_ERROR_BUSY,
      "zerovora: " + file_ +
          ": locked by another process for longer than the library waits "
          "(10 s): try again later\n");
  EXPECT_EQ(count_entries(file_), 1);
}

// A write takes the write lock with its first statement, so that writers
// queue in the busy handler rather than fail when they would upgrade a read
// lock.
TEST_F(StandInTest, AWriteTransactionHoldsTheWriteLockFromItsStart) {
  add_sample();
  sqlite3 *first = nullptr;
  sqlite3 *second = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &first), SQLITE_OK);
  const zerovora::Database writer(first);
  ASSERT_EQ(sqlite3_open(file_.c_str(), &second), SQLITE_OK);
  const zerovora::Database other(second);
  const zerovora::Transaction write(writer.get(),
                                    zerovora::Transaction::kWrite);
  ASSERT_EQ(write.begin_result(), SQLITE_OK);
  EXPECT_EQ(
      sqlite3_exec(other.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
      SQLITE_BUSY);
}

TEST_F(StandInTest, GetHandsBackTheRequestedColumnsInOrder) {
  add_sample();
  const auto global = open();
  const auto wanted = table_of({"tag", "mtime", "title", "size", "author"});
  metadata_table *raw = nullptr;
  ASSERT_EQ(
      zerovora_global_get_file(global.get(), "/d", "f", wanted.get(), &raw),
      ZEROVORA_OK);
  const MetadataTable found(raw);
  ASSERT_EQ(metadata_table_get_column_count(found.get()), 5);
  const char *expected[][2] = {{"tag", "tag"},
                               {"mtime", "34"},
                               {"title", "Title"},
                               {"size", "12"},
                               {"author", "Author"}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(metadata_table_get_column_name(found.get(), i),
                 expected[i][0]);
    EXPECT_STREQ(metadata_table_get_text(found.get(), i), expected[i][1]);
  }
  EXPECT_EQ(
      zerovora_global_get_file(global.get(), "/d", "f", wanted.get(), nullptr),
      ZEROVORA_OK);
  metadata_table *untouched = wanted.get();
  for (const auto &key : {std::pair("/d", "g"), std::pair("/d/", "f")}) {
    expect_failure(
        [&] {
          return zerovora_global_get_file(global.get(), key.first, key.second,
                                          wanted.get(), &untouched);
        },
        ZEROVORA_ERROR_NOT_FOUND, "");
    EXPECT_EQ(untouched, wanted.get());
  }
}

TEST_F(StandInTest, AddRefusesAnExistingEntryAndKeepsIt) {
  add_sample();
  expect_failure(
      [&] {
        return zerovora_global_add_file(open().get(), "/d", "f", 99, 99, "New",
                                        "New", "new");
      },
      ZEROVORA_ERROR_EXISTS,
      "zerovora: " + file_ + ": it already holds an entry for that file\n");
  EXPECT_EQ(read_entry(kCard, "/d", "f"), kSample);
}

TEST_F(StandInTest, ChangeSetsOnlyTheNamedColumns) {
  add_sample();
  const auto values = table_of({"title"});
  metadata_table_set_text(values.get(), 0, "Other");
  const auto global = open();
  EXPECT_EQ(zerovora_global_change_file(global.get(), "/d", "f", values.get()),
            ZEROVORA_OK);
  expect_failure(
      [&] {
        return zerovora_global_change_file(global.get(), "/d", "g",
                                           values.get());
      },
      ZEROVORA_ERROR_NOT_FOUND,
      "zerovora: " + file_ + ": it holds no entry for that file\n");
  Entry changed = kSample;
  changed.title = "Other";
  EXPECT_EQ(read_entry(kCard, "/d", "f"), changed);
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, ChangeRefusesBadTablesAndChangesNothing) {
  add_sample();
  const auto global = open();
  struct Case {
    std::vector<const char *> names;
    bool fill;
  };
  for (const auto &c :
       std::vector<Case>{{{}, true},
                         {{"title", "bogus"}, true},
                         {{"title; DROP TABLE files"}, true},
                         {{"title", "size"}, true},  // read-only
                         {{"tag", "tag"}, true},
                         {{"tag", "title"}, false}}) {
    const auto values = table_of(c.names);
    for (int i = 0; c.fill && i < int(c.names.size()); ++i) {
      metadata_table_set_text(values.get(), i, "changed");
    }
    SCOPED_TRACE(::testing::PrintToString(c.names) +
                 (c.fill ? "" : " without values"));
    expect_failure(
        [&] {
          return zerovora_global_change_file(global.get(), "/d", "f",
                                             values.get());
        },
        ZEROVORA_ERROR_ARGUMENT, invalid("zerovora_global_change_file"));
  }
  EXPECT_EQ(read_entry(kCard, "/d", "f"), kSample);
}

TEST_F(StandInTest, StoresBytesVerbatim) {
  const std::string hostile =
      "%s%n%x 'q' \"dq\" ); DROP TABLE files; --\n\t\xff\xfe\xc3\xa9";
  const char *h = hostile.c_str();
  ASSERT_EQ(zerovora_global_add_file(open().get(), h, h, -5, -6, h, "", h),
            ZEROVORA_OK);
  EXPECT_EQ(read_entry(kCard, hostile, hostile),
            (Entry{-5, -6, hostile, "", hostile}));
}

TEST_F(StandInTest, ProcessesAddingOneEntryAtOnceLeaveOneWinner) {
  add_sample();
  constexpr int kProcesses = 8;
  const auto runs = in_processes(kProcesses, [this](int i) {
    const std::string title = std::to_string(i);
    return zerovora_global_add_file(open().get(), "/d", "same", 1, 2,
                                    title.c_str(), "a", "t");
  });
  int winner = -1;
  for (int i = 0; i < kProcesses; ++i) {
    if (runs[i].status == 0) {
      EXPECT_EQ(winner, -1) << "two processes added the entry";
      EXPECT_EQ(runs[i].err, "") << "process " << i;
      winner = i;
    } else {
      EXPECT_EQ(runs[i].status, ZEROVORA_ERROR_EXISTS) << "process " << i;
      EXPECT_EQ(runs[i].err, "zerovora: " + file_ +
                                 ": it already holds an entry for that file\n")
          << "process " << i;
    }
  }
  ASSERT_NE(winner, -1);
  EXPECT_EQ(stored_entry(kCard, "/d", "same").title, std::to_string(winner));
  EXPECT_EQ(count_entries(file_), 2);
}

}  // namespace
}  // namespace vorn::testing
