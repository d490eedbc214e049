// SPDX-License-Identifier: MIT
// The split of the command line between the toolkit and vorn's values.
#include "toolkit_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorn {
namespace {

TEST(ToolkitArgumentsTest, OnlyLeadingOptionsAreTheToolkits) {
  struct Case {
    std::vector<std::string> words;  // after the program name
    int toolkit;      // words of the toolkit's part, the program's included
    int taken;        // of those, the options that the toolkit removes
    int values;       // the count of values left
    std::string tag;  // the last value, when there are four
  };
  std::vector<Case> cases = {
      {{"F", "t", "a", "g"}, 1, 0, 4, "g"},
      {{"--g-fatal-warnings", "--", "F", "t", "a", "--sync"},
       2,
       1,
       4,
       "--sync"},
      {{"--", "--f", "t", "a", "g"}, 1, 0, 4, "g"},
      {{"F", "t", "--", "--display"}, 1, 0, 4, "--display"},
      // An option that the toolkit does not know stays a value.
      {{"--bogus", "F", "t", "a", "g"}, 2, 0, 5, ""},
      // An option without the value it takes: nothing past the end.
      {{"--display"}, 2, 0, 1, ""}};
  // Each of the toolkit's options that take their value as the next word.
  for (const char *option :
       {"--class", "--name", "--display", "--screen", "--gdk-debug",
        "--gdk-no-debug", "--gtk-module", "--gtk-debug", "--gtk-no-debug"}) {
    cases.push_back({{option, "value", "F", "t", "a", "g"}, 3, 2, 4, "g"});
  }
  for (const Case &c : cases) {
    std::vector<std::string> words = {"vorn"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    SCOPED_TRACE(testing::PrintToString(words));
    std::vector<char *> argv;
    for (auto &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    ToolkitArguments arguments(static_cast<int>(words.size()), argv.data());
    ASSERT_EQ(*arguments.toolkit_count(), c.toolkit);
    // As the toolkit does, remove the options it takes from its vector.
    char **toolkit = *arguments.toolkit_vector();
    for (int i = 1; i + c.taken <= c.toolkit; ++i) {
      toolkit[i] = toolkit[i + c.taken];
    }
    *arguments.toolkit_count() -= c.taken;
    const char *values[4] = {};
    ASSERT_EQ(arguments.values(values, 4), c.values);
    if (c.values == 4) {
      EXPECT_STREQ(values[3], c.tag.c_str());
    }
  }
  // Started with no words at all, not even its name.
  char *none[] = {nullptr};
  ToolkitArguments arguments(0, none);
  EXPECT_EQ(*arguments.toolkit_count(), 0);
  const char *values[4] = {};
  EXPECT_EQ(arguments.values(values, 4), 0);
}

}  // namespace
}  // namespace vorn
