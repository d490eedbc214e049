#include "standin_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "files.h"

namespace vorn::testing {

MetadataTable table_of(const std::vector<const char *> &names) {
  MetadataTable table(metadata_table_new());
  for (const char *name : names) metadata_table_add_column(table.get(), name);
  return table;
}

GlobalDatabase StandInTest::open() const {
  return GlobalDatabase(zerovora_global_open(dir_.c_str(), 0));
}

void StandInTest::add_sample() const {
  const auto global = open();
  ASSERT_TRUE(global);
  EXPECT_EQ(
      zerovora_global_add_file(global.get(), "/d", "f", kSample.size,
                               kSample.mtime, kSample.title.c_str(),
                               kSample.author.c_str(), kSample.tag.c_str()),
      ZEROVORA_OK);
}

void StandInTest::expect_refused() const {
  const std::string journal = file_ + "-journal";
  const bool journal_file = std::filesystem::is_regular_file(journal);
  const std::string before = read_file(file_);
  const std::string journal_before = journal_file ? read_file(journal) : "";
  EXPECT_FALSE(open());
  EXPECT_TRUE(read_file(file_) == before) << "the file changed";
  if (journal_file) {
    EXPECT_TRUE(read_file(journal) == journal_before) << "the journal changed";
  }
}

}  // namespace vorn::testing
