// SPDX-License-Identifier: MIT
// The card: the library opens a database only in a directory where a file
// system is mounted, and only a regular file in the database file's place.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "standin_fixture.h"

namespace vorn::testing {
namespace {

// What is not a card is refused with no line: the caller tells that no card
// is mounted there.
TEST_F(StandInTest, OpenRefusesWhatIsNotADatabaseDirectory) {
  const auto refused = [this](const char *directory, int flags,
                              const std::string &line) {
    SCOPED_TRACE(directory == nullptr ? "null" : directory);
    expect_failure(
        [&] {
          return GlobalDatabase(zerovora_global_open(directory, flags)) ? 0
                                                                        : -1;
        },
        -1, line);
  };
  refused(nullptr, 0, invalid("zerovora_global_open"));
  refused(kCard.c_str(), 1, invalid("zerovora_global_open"));
  const std::string missing = kCard + "/missing";
  refused(missing.c_str(), 0, "");
  EXPECT_FALSE(exists(missing));
  write_file(kCard + "/plain", "x");
  refused((kCard + "/plain").c_str(), 0, "");
  // A folder where no card is mounted.
  const std::string unmounted = kCard + "/unmounted";
  ASSERT_EQ(mkdir(unmounted.c_str(), 0755), 0);
  refused(unmounted.c_str(), 0, "");
  EXPECT_TRUE(std::filesystem::is_empty(unmounted));
  // The card through a symbolic link: refused where SQLite names a file by
  // the path that the links lead to (its newer versions), opened on the
  // card itself where it names it as given.
  const std::string link = "/media/link";
  ASSERT_EQ(symlink(kCard.c_str(), link.c_str()), 0);
  sqlite3_vfs *system = sqlite3_vfs_find(nullptr);
  std::vector<char> name(static_cast<std::size_t>(system->mxPathname) + 1);
  const bool resolved =
      system->xFullPathname(system, (link + "/x").c_str(), system->mxPathname,
                            name.data()) == SQLITE_OK_SYMLINK;
  ::testing::internal::CaptureStderr();
  EXPECT_NE(bool(GlobalDatabase(zerovora_global_open(link.c_str(), 0))),
            resolved);
  EXPECT_EQ(::testing::internal::GetCapturedStderr().find("through a link") !=
                std::string::npos,
            resolved);
  EXPECT_EQ(exists(file_), !resolved);
  std::filesystem::remove(file_);
  ASSERT_EQ(mkdir(file_.c_str(), 0755), 0);
  expect_refused(
      "not a database of this library, left as it is: a folder in "
      "its place");
}

TEST_F(StandInTest, AFolderBoundOverItselfIsACard) {
  // The mount table writes the space in this name as \040.
  const std::string folder = "/media/a card";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  mount_over_itself(folder);
  EXPECT_TRUE(GlobalDatabase(zerovora_global_open(folder.c_str(), 0)));
  EXPECT_TRUE(exists(folder + "/" + zerovora::kDatabaseFileName));
}

// A line names the directory that the caller gave with its control bytes
// escaped, whatever it holds.
TEST_F(StandInTest, ALineNeverHoldsAControlByteOfAName) {
  const std::string folder = "/media/\x1b]0;x\x07\x7f\\";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  mount_over_itself(folder);
  write_file(folder + "/" + zerovora::kDatabaseFileName, "junk");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(GlobalDatabase(zerovora_global_open(folder.c_str(), 0)));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "zerovora: /media/\\x1b]0;x\\x07\\x7f\\x5c/" +
                std::string(zerovora::kDatabaseFileName) +
                ": not a database of this library: too short for one (4 "
                "bytes)\n");

  // A folder name of the longest length, every byte of it escaped.
  const std::string longest = "/media/" + std::string(NAME_MAX, '\x01');
  ASSERT_EQ(mkdir(longest.c_str(), 0755), 0);
  mount_over_itself(longest);
  write_file(longest + "/" + zerovora::kDatabaseFileName, "junk");
  std::string printed = "/media/";
  for (int i = 0; i < NAME_MAX; ++i) printed += "\\x01";
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(GlobalDatabase(zerovora_global_open(longest.c_str(), 0)));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "zerovora: " + printed + "/" +
                std::string(zerovora::kDatabaseFileName) +
                ": not a database of this library: too short for one (4 "
                "bytes)\n");
}

}  // namespace
}  // namespace vorn::testing
