// SPDX-License-Identifier: MIT
// set_file_metadata against the scripted library (tests/scripted/), for the
// answers that the stand-in never gives: tables that can't be made or
// filled, a failed lookup that hands back a table, and a line that can't be
// allocated. Runs on a card mounted at the media root in a private
// namespace (scripts/private-card.sh).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "failing_allocations.h"
#include "set_file_metadata.h"
#include "zerovora.h"

extern "C" int scripted_zerovora_live_tables(void);

namespace vorn::testing {
namespace {

struct Row {
  const char *script;
  // Whether the entry is added, without a script, beforehand.
  bool known;
  int result;
};

TEST(ScriptedLibraryTest, TablesThatFailSkipTheirCallAndAreAllFreed) {
  const Row rows[] = {
      // The lookup table can't be made or given its column: an add.
      {"new-table-fails-1", false, 0},
      {"add-column-fails-1", false, 0},
      // A failed lookup's table is freed, and the add follows.
      {"lookup-fails-with-table", false, 0},
      // The values table can't be made, given its columns or filled: the
      // change is skipped, and the failure is the result.
      {"new-table-fails-2", true, ZEROVORA_ERROR_NO_MEMORY},
      {"add-column-fails-2", true, -1},
      {"set-text-fails", true, -1},
  };
  int file = 0;
  for (const Row &row : rows) {
    SCOPED_TRACE(row.script);
    const std::string path =
        std::string(kMediaRoot) + "/file-" + std::to_string(++file);
    std::ofstream(path) << "x";
    unsetenv("ZEROVORA_SCRIPT");
    if (row.known) {
      ASSERT_EQ(set_file_metadata(path.c_str(), "t", "a", "g"), 0);
    }
    setenv("ZEROVORA_SCRIPT", row.script, 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(set_file_metadata(path.c_str(), "T", "A", "G"), row.result);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(scripted_zerovora_live_tables(), 0);
    unsetenv("ZEROVORA_SCRIPT");
  }
}

// The line about a file that can't be read, when its path can't be escaped
// for want of memory, still names the cause.
TEST(ScriptedLibraryTest, ALineWithoutMemoryForThePathStillSaysWhy) {
  if (!kFailingAllocations) GTEST_SKIP() << "the sanitizers own malloc";
  const std::string path =
      std::string(kMediaRoot) + "/" + std::string(200, 'm') + "/missing";
  ::testing::internal::CaptureStderr();
  fail_allocations_of_size(path.size() * 4 + 1);
  const int result = set_file_metadata(path.c_str(), "t", "a", "g");
  const bool failed = allocation_failed();
  fail_allocations_of_size(0);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(failed);
  EXPECT_EQ(result, kResultFileUnreadable);
  EXPECT_EQ(said,
            "vorn: No such file or directory; the lookup found no entry for "
            "it, so none was added\n");
}

}  // namespace
}  // namespace vorn::testing
