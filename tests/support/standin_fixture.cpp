#include "standin_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "files.h"

namespace vorn::testing {

metadata_table *table_of(const std::vector<const char *> &names) {
  metadata_table *table = metadata_table_new();
  for (const char *name : names) metadata_table_add_column(table, name);
  return table;
}

zerovora_global *StandInTest::open() const {
  return zerovora_global_open(dir_.c_str(), 0);
}

void StandInTest::add_sample() const {
  zerovora_global *global = open();
  ASSERT_NE(global, nullptr);
  EXPECT_EQ(zerovora_global_add_file(global, "/d", "f", 12, 34, "Title",
                                     "Author", "tag"),
            ZEROVORA_OK);
  zerovora_close(global);
}

void StandInTest::expect_refused() const {
  const std::string journal = file_ + "-journal";
  const bool journal_file = std::filesystem::is_regular_file(journal);
  const std::string before = read_file(file_);
  const std::string journal_before = journal_file ? read_file(journal) : "";
  EXPECT_EQ(open(), nullptr);
  EXPECT_TRUE(read_file(file_) == before) << "the file changed";
  if (journal_file) {
    EXPECT_TRUE(read_file(journal) == journal_before) << "the journal changed";
  }
}

}  // namespace vorn::testing
