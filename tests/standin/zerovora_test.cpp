// SPDX-License-Identifier: MIT
// The C functions: null arguments and bad positions are argument failures,
// never crashes.
#include <gtest/gtest.h>

#include <string>

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
  EXPECT_EQ(zerovora_global_get_file(nullptr, "/d", "f", table, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_get_file(global, nullptr, "f", table, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_get_file(global, "/d", nullptr, table, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "f", nullptr, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(
      zerovora_global_get_file(global, "/d", "f", table_of({}).get(), &out),
      ZEROVORA_ERROR_ARGUMENT);
  const char *add_args[6] = {"/d", "g", "t", "a", "g", nullptr};
  for (int missing = 0; missing < 5; ++missing) {
    const char *a[5];
    for (int i = 0; i < 5; ++i) a[i] = i == missing ? nullptr : add_args[i];
    EXPECT_EQ(
        zerovora_global_add_file(global, a[0], a[1], 1, 2, a[2], a[3], a[4]),
        ZEROVORA_ERROR_ARGUMENT);
  }
  EXPECT_EQ(zerovora_global_add_file(nullptr, "/d", "g", 1, 2, "t", "a", "g"),
            ZEROVORA_ERROR_ARGUMENT);
  metadata_table_set_text(table, 0, "x");
  EXPECT_EQ(zerovora_global_change_file(nullptr, "/d", "f", table),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_change_file(global, nullptr, "f", table),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_change_file(global, "/d", nullptr, table),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_change_file(global, "/d", "f", nullptr),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_close(nullptr), ZEROVORA_ERROR_ARGUMENT);

  EXPECT_EQ(metadata_table_add_column(nullptr, "tag"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_add_column(table, nullptr), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(nullptr, 0, "x"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(table, 0, nullptr),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(table, -1, "x"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(table, 1, "x"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_get_column_count(nullptr), -1);
  EXPECT_EQ(metadata_table_get_column_name(table, 1), nullptr);
  EXPECT_EQ(metadata_table_get_text(table, -1), nullptr);
  EXPECT_EQ(metadata_table_get_text(nullptr, 0), nullptr);
  metadata_table_free_impl(nullptr);
  EXPECT_EQ(count_entries(file_), 1);
  EXPECT_EQ(read_entry(kCard, "/d", "f"), kSample);
}

}  // namespace
}  // namespace vorn::testing
