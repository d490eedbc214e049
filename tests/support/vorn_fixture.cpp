// SPDX-License-Identifier: MIT
#include "vorn_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "files.h"
#include "oracles.h"

namespace vorn::testing {
namespace {

// The emulator's command, empty for a native build.
const std::vector<std::string> kEmulator = {VORN_EMULATOR};

}  // namespace

std::string progress(const std::string &file, const std::string &title,
                     const std::string &author, const std::string &tag) {
  return "Processing: [file:" + file + "] [title:" + title +
         "] [author:" + author + "] [tag:" + tag + "]\n";
}

void VornTest::SetUp() {
  PrivateCardTest::SetUp();
  const char *display = std::getenv("DISPLAY");
  ASSERT_TRUE(display != nullptr && *display != '\0')
      << "these tests run vorn under an X server: set DISPLAY (the test "
         "script starts Xvfb)";
  display_ = display;
}

bool VornTest::emulated() { return !kEmulator.empty(); }

std::vector<std::string> VornTest::command(
    const std::vector<std::string> &args) {
  std::vector<std::string> argv = kEmulator;
  argv.push_back(VORN_BINARY);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::vector<std::string> VornTest::environment(bool with_display) const {
  std::vector<std::string> env = {"LC_ALL=C", "PATH=/usr/bin:/bin"};
  if (with_display) env.push_back("DISPLAY=" + display_);
  // The sanitizers' options, and which runtime the emulator starts vorn on.
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                           "VORN_TARGET_RUNTIME"}) {
    if (const char *value = std::getenv(name)) {
      env.push_back(std::string(name) + "=" + value);
    }
  }
  return env;
}

std::vector<std::string> VornTest::traced_environment() const {
  auto env = environment();
  for (auto &variable : env) {
    if (variable.rfind("ASAN_OPTIONS=", 0) == 0) variable += ":detect_leaks=0";
  }
  return env;
}

std::vector<ProcessResult> VornTest::runs_with_and_without_statx(
    const std::vector<std::string> &args) const {
  std::vector<ProcessResult> runs = {vorn(args)};
  if (emulated()) return runs;
  std::vector<std::string> argv = {
      "strace",      "-f",        "-qq",
      "-o",          "/dev/null", "-e",
      "trace=statx", "-e",        "inject=statx:error=ENOSYS"};
  const auto vorn_argv = command(args);
  argv.insert(argv.end(), vorn_argv.begin(), vorn_argv.end());
  runs.push_back(run_process(argv, traced_environment()));
  return runs;
}

ProcessResult VornTest::vorn(const std::vector<std::string> &args,
                             bool with_display,
                             std::chrono::milliseconds limit) const {
  const Tree before = tree_of(kMedia);
  ProcessResult run =
      run_process(command(args), environment(with_display), limit);
  EXPECT_EQ(changes_not_allowed(before, tree_of(kMedia), run), "")
      << "vorn ended with " << run.status << ": " << run.err;
  return run;
}

}  // namespace vorn::testing
