// SPDX-License-Identifier: MIT
// The C functions: null arguments and bad positions are argument failures,
// and a failed allocation is an out-of-memory failure, never a crash.
#include <gtest/gtest.h>

#include <string>

#include "failing_allocations.h"
#include "standin_fixture.h"

namespace vorn::testing {
namespace {

TEST_F(StandInTest, NullArgumentsAndBadPositionsAreArgumentFailures) {
  add_sample();
  const auto owned_global = open();
  const auto owned_table = table_of({"tag"});
  zerovora_global *global = owned_global.get();
  metadata_table *table = owned_table.get();
  metadata_table *out = nullptr;
  const std::string get = invalid("zerovora_global_get_file");
  const std::string add = invalid("zerovora_global_add_file");
  const std::string change = invalid("zerovora_global_change_file");
  const std::string add_column = invalid("metadata_table_add_column");
  const std::string set_text = invalid("metadata_table_set_text");
  const auto fails = [this](auto call, const std::string &line) {
    expect_failure(call, ZEROVORA_ERROR_ARGUMENT, line);
  };
  fails(
      [&] { return zerovora_global_get_file(nullptr, "/d", "f", table, &out); },
      get);
  fails(
      [&] {
        return zerovora_global_get_file(global, nullptr, "f", table, &out);
      },
      get);
  fails(
      [&] {
        return zerovora_global_get_file(global, "/d", nullptr, table, &out);
      },
      get);
  fails(
      [&] {
        return zerovora_global_get_file(global, "/d", "f", nullptr, &out);
      },
      get);
  EXPECT_EQ(out, nullptr);
  fails(
      [&] {
        return zerovora_global_get_file(global, "/d", "f", table_of({}).get(),
                                        &out);
      },
      get);
  const char *add_args[6] = {"/d", "g", "t", "a", "g", nullptr};
  for (int missing = 0; missing < 5; ++missing) {
    const char *a[5];
    for (int i = 0; i < 5; ++i) a[i] = i == missing ? nullptr : add_args[i];
    fails(
        [&] {
          return zerovora_global_add_file(global, a[0], a[1], 1, 2, a[2], a[3],
                                          a[4]);
        },
        add);
  }
  fails(
      [&] {
        return zerovora_global_add_file(nullptr, "/d", "g", 1, 2, "t", "a",
                                        "g");
      },
      add);
  metadata_table_set_text(table, 0, "x");
  fails([&] { return zerovora_global_change_file(nullptr, "/d", "f", table); },
        change);
  fails(
      [&] { return zerovora_global_change_file(global, nullptr, "f", table); },
      change);
  fails(
      [&] { return zerovora_global_change_file(global, "/d", nullptr, table); },
      change);
  fails([&] { return zerovora_global_change_file(global, "/d", "f", nullptr); },
        change);
  fails([&] { return zerovora_close(nullptr); }, invalid("zerovora_close"));

  fails([&] { return metadata_table_add_column(nullptr, "tag"); }, add_column);
  fails([&] { return metadata_table_add_column(table, nullptr); }, add_column);
  fails([&] { return metadata_table_set_text(nullptr, 0, "x"); }, set_text);
  fails([&] { return metadata_table_set_text(table, 0, nullptr); }, set_text);
  fails([&] { return metadata_table_set_text(table, -1, "x"); }, set_text);
  fails([&] { return metadata_table_set_text(table, 1, "x"); }, set_text);
  EXPECT_EQ(metadata_table_get_column_count(nullptr), -1);
  EXPECT_EQ(metadata_table_get_column_name(table, 1), nullptr);
  EXPECT_EQ(metadata_table_get_text(table, -1), nullptr);
  EXPECT_EQ(metadata_table_get_text(nullptr, 0), nullptr);
  metadata_table_free_impl(nullptr);
  EXPECT_EQ(count_entries(file_), 1);
  EXPECT_EQ(read_entry(kCard, "/d", "f"), kSample);
}

// Each allocation of an add that fails (the entry exists) fails in turn:
// no C++ exception crosses into C, and the add ends with the out-of-memory
// code and its line, or as it does with memory to spare.
TEST_F(StandInTest, AFailedAllocationInAFailingAddIsOutOfMemory) {
  if (!kFailingAllocations) GTEST_SKIP() << "the sanitizers own malloc";
  add_sample();
  const std::string exists =
      "zerovora: " + file_ + ": it already holds an entry for that file\n";
  constexpr int kNotReached = 100;
  long nth = 1;
  for (; nth < 1000; ++nth) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    const auto run = in_processes(1, [&](int) {
      const auto global = open();
      fail_allocation(nth);
      const int result = zerovora_global_add_file(global.get(), "/d", "f", 1, 2,
                                                  "t", "a", "g");
      const bool failed = allocation_failed();
      fail_allocation(0);
      return failed ? result : kNotReached + result;
    })[0];
    if (run.status == kNotReached + ZEROVORA_ERROR_EXISTS) {
      EXPECT_EQ(run.err, exists);
      break;
    }
    if (run.status == ZEROVORA_ERROR_EXISTS) {
      EXPECT_EQ(run.err, exists) << "a failed allocation that SQLite recovers";
      continue;
    }
    EXPECT_EQ(run.status, ZEROVORA_ERROR_NO_MEMORY) << run.err;
    EXPECT_TRUE(run.err == "zerovora: out of memory\n" ||
                run.err == "zerovora: " + file_ + ": out of memory\n")
        << run.err;
  }
  EXPECT_GT(nth, 1) << "the add allocates nothing";
  EXPECT_LT(nth, 1000) << "the add never got through";
  EXPECT_EQ(read_entry(kCard, "/d", "f"), kSample);
}

}  // namespace
}  // namespace vorn::testing
