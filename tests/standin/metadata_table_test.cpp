// SPDX-License-Identifier: MIT
// The metadata table: it owns copies of its names and texts.
#include <gtest/gtest.h>

#include <string>

#include "standin_fixture.h"

namespace vorn::testing {
namespace {

TEST_F(StandInTest, TableCopiesItsTexts) {
  const auto table = table_of({"title"});
  EXPECT_EQ(metadata_table_get_text(table.get(), 0), nullptr);
  std::string text = "before";
  ASSERT_EQ(metadata_table_set_text(table.get(), 0, text.c_str()), ZEROVORA_OK);
  text.replace(0, text.size(), "AFTER!");
  EXPECT_STREQ(metadata_table_get_text(table.get(), 0), "before");
}

}  // namespace
}  // namespace vorn::testing
