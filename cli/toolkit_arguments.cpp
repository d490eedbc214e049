// SPDX-License-Identifier: MIT
#include "toolkit_arguments.h"

#include <cstring>

namespace vorn {
namespace {

// The toolkit's options that take their value as the next word when it is
// not given after "=".
constexpr const char *kOptionsWithValue[] = {
    "--class",      "--name",      "--display",
    "--screen",     "--gdk-debug", "--gdk-no-debug",
    "--gtk-module", "--gtk-debug", "--gtk-no-debug"};

bool takes_separate_value(const char *word) {
  for (const char *option : kOptionsWithValue) {
    if (std::strcmp(word, option) == 0) return true;
  }
  return false;
}

bool is_option(const char *word) { return std::strncmp(word, "--", 2) == 0; }

}  // namespace

ToolkitArguments::ToolkitArguments(int argc, char **argv)
    : toolkit_argc_(argc > 0 ? 1 : 0), toolkit_argv_(argv) {
  int next = toolkit_argc_;
  while (next < argc && is_option(argv[next]) &&
         std::strcmp(argv[next], "--") != 0) {
    if (takes_separate_value(argv[next]) && next + 1 < argc) ++next;
    ++next;
  }
  toolkit_argc_ = next;
  if (next < argc && std::strcmp(argv[next], "--") == 0) ++next;
  rest_count_ = argc - next;
  rest_ = argv + next;
  first_rest_ = rest_count_ > 0 ? rest_[0] : nullptr;
  argv[toolkit_argc_] = nullptr;
}

int ToolkitArguments::values(const char **out, int capacity) const {
  int count = 0;
  auto keep = [&](const char *value) {
    if (count < capacity) out[count] = value;
    ++count;
  };
  for (int i = 1; i < toolkit_argc_; ++i) keep(toolkit_argv_[i]);
  for (int i = 0; i < rest_count_; ++i) keep(i == 0 ? first_rest_ : rest_[i]);
  return count;
}

}  // namespace vorn
