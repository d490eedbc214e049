// The metadata table: it owns copies of its names and texts.
#include <gtest/gtest.h>

#include <string>

#include "database.h"
#include "standin_fixture.h"

namespace vorn::testing {
namespace {

TEST_F(StandInTest, TableCopiesItsTexts) {
  metadata_table *table = table_of({"title"});
  EXPECT_EQ(metadata_table_get_text(table, 0), nullptr);
  std::string text = "before";
  ASSERT_EQ(metadata_table_set_text(table, 0, text.c_str()), ZEROVORA_OK);
  text.replace(0, text.size(), "AFTER!");
  EXPECT_STREQ(metadata_table_get_text(table, 0), "before");
  metadata_table_free_impl(table);
}

}  // namespace
}  // namespace vorn::testing
