// SPDX-License-Identifier: MIT
// The built vorn binary, run as a user runs it, on a private card and under
// the X server named by DISPLAY; plus how results become exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "database.h"
#include "exit_status.h"
#include "files.h"
#include "oracles.h"
#include "private_card.h"
#include "set_file_metadata.h"
#include "vorn_fixture.h"
#include "zerovora.h"

namespace vorn::testing {
namespace {

TEST_F(VornTest, AddsThenChangesAFile) {
  const std::string path = kCard + "/book.epub";
  write_file(path, "0123456789");
  auto run = vorn({path, "Title", "Author", "tag"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress(path, "Title", "Author", "tag"));
  EXPECT_EQ(run.err, "");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(read_entry(kCard, kCard, "book.epub"),
            (Entry{10, st.st_mtime, "Title", "Author", "tag"}));

  write_file(path, "changed, and longer");
  run = vorn({path, "New title", "", "other"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, progress(path, "New title", "", "other"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(read_entry(kCard, kCard, "book.epub"),
            (Entry{10, st.st_mtime, "New title", "", "other"}));
}

TEST_F(VornTest, AnyCountButFourValuesIsAUsageError) {
  for (const auto &args : std::vector<std::vector<std::string>>{
           {}, {"a", "b", "c"}, {"a", "b", "c", "d", "e"}}) {
    const auto run = vorn(args);
    EXPECT_EQ(run.status, kExitNotStarted) << args.size() << " values";
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, kUsage);
  }
  EXPECT_FALSE(exists(kDatabaseFile));
}

TEST_F(VornTest, OnlyLeadingToolkitOptionsReachTheToolkit) {
  const std::string path = kCard + "/f";
  write_file(path, "");
  const std::string module = "--gtk-module=" + kCard + "/no-such-module.so";
  struct Case {
    std::vector<std::string> args;
    std::string title;  // stored; empty for the usage message
  };
  for (const auto &c : std::vector<Case>{
           {{"--g-fatal-warnings", path, "t", "a", "g"}, "t"},
           {{"--display", display_, path, "t", "a", "g"}, "t"},
           {{"--", path, "--sync", "a", "g"}, "--sync"},
           {{"--g-fatal-warnings", "--", path, module, "a", "g"}, module},
           {{path, "--sync", "a", "g"}, "--sync"},
           {{path, "--", "a", "g"}, "--"},
           {{"--g-fatal-warnings", path, "t", "a"}, ""},
           {{"--", path, "t", "a"}, ""}}) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1] + " " + c.args[2]);
    const auto run = vorn(c.args);
    if (c.title.empty()) {
      EXPECT_EQ(run.status, kExitNotStarted);
      EXPECT_EQ(run.err, kUsage);
      continue;
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress(path, c.title, "a", "g"));
    // A module that the toolkit tried to load would be reported here.
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(stored_entry(kCard, kCard, "f").title, c.title);
  }
}

TEST_F(VornTest, NamesOfNoFileEntryAreRefusedAndChangeNothing) {
  // Refused before the database is opened, which would make its file.
  const auto empty = vorn({"", "t", "a", "g"});
  ASSERT_EQ(empty.status, kResultNotAFileName);
  EXPECT_EQ(empty.err, "vorn: the file name is empty\n");
  const std::string folder = kCard + "/books";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  write_file(folder + "/books", "inner");
  ASSERT_EQ(vorn({folder + "/books", "t", "a", "g"}).status, 0);
  const std::string before = read_file(kDatabaseFile);
  for (const auto &[path, reason] :
       std::vector<std::pair<std::string, std::string>>{
           {"", "vorn: the file name is empty\n"},
           {folder + "/",
            "vorn: " + folder + "/: a name ending in '/' names no file\n"},
           {"/", "vorn: /: a name ending in '/' names no file\n"}}) {
    const auto run = vorn({path, "T", "A", "G"});
    EXPECT_EQ(run.status, kResultNotAFileName) << path;
    EXPECT_EQ(run.out, progress(path, "T", "A", "G"));
    EXPECT_EQ(run.err, reason);
  }
  EXPECT_TRUE(read_file(kDatabaseFile) == before) << "the database changed";
}

TEST_F(VornTest, WithoutTheMediaRootItFailsAfterTheProgressLine) {
  take_card_out();
  ASSERT_EQ(rmdir(kCard.c_str()), 0);
  const auto run = vorn({"/media/f", "t", "a", "g"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out, progress("/media/f", "t", "a", "g") + kOpenFailure);
  EXPECT_EQ(run.err, kNoCard);
  EXPECT_FALSE(exists(kCard));
}

// A caller watching the pipe sees the progress line while the run still
// waits for the database, which another process keeps locked.
TEST_F(VornTest, TheProgressLineIsOutWhileTheRunWaitsForTheDatabase) {
  const std::string path = kCard + "/f";
  write_file(path, "x");
  ASSERT_EQ(vorn({path, "t", "a", "g"}).status, 0);
  auto lock = std::make_unique<HeldLock>(kDatabaseFile, "BEGIN EXCLUSIVE");
  Child child = start_process(command({path, "T", "a", "g"}), environment());
  const std::string line = progress(path, "T", "a", "g");
  std::string seen;
  for (const auto deadline = in_seconds(8);
       seen != line && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    seen.assign(line.size(), '\0');
    seen.resize(
        std::max<ssize_t>(pread(child.out, seen.data(), seen.size(), 0), 0));
  }
  EXPECT_EQ(seen, line);
  lock.reset();
  const auto run = finish_process(child, in_seconds(60));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(stored_entry(kCard, kCard, "f").title, "T");
}

TEST_F(VornTest, WithNoCardMountedNothingIsWritten) {
  take_card_out();
  for (const auto &run :
       runs_with_and_without_statx({"/media/f", "t", "a", "g"})) {
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, progress("/media/f", "t", "a", "g") + kOpenFailure);
    EXPECT_EQ(run.err, kNoCard);
  }
  EXPECT_TRUE(std::filesystem::is_empty(kCard));
  // A file where the card would be mounted.
  ASSERT_EQ(rmdir(kCard.c_str()), 0);
  write_file(kCard, "");
  for (const auto &run :
       runs_with_and_without_statx({"/media/f", "t", "a", "g"})) {
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err, kNoCard);
  }
  EXPECT_EQ(read_file(kCard), "");
}

TEST_F(VornTest, AMissingFileIsReportedAndNotAdded) {
  const auto run = vorn({"missing.txt", "t", "a", "g"});
  EXPECT_EQ(run.status, 66);
  EXPECT_EQ(run.out, progress("missing.txt", "t", "a", "g"));
  EXPECT_EQ(run.err,
            "vorn: missing.txt: No such file or directory; the lookup found "
            "no entry for it, so none was added\n");
  EXPECT_EQ(count_entries(kDatabaseFile), 0);
}

TEST_F(VornTest, ACorruptDatabaseIsRefusedUntouched) {
  const std::string junk(4096, '\x5a');
  write_file(kDatabaseFile, junk);
  write_file(kCard + "/f", "");
  // The library's line alone: a card is in.
  for (const auto &run :
       runs_with_and_without_statx({kCard + "/f", "t", "a", "g"})) {
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, progress(kCard + "/f", "t", "a", "g") + kOpenFailure);
    EXPECT_EQ(run.err, "zerovora: " + kDatabaseFile +
                           ": not a database of this library: not an SQLite "
                           "database\n");
  }
  EXPECT_TRUE(read_file(kDatabaseFile) == junk) << "the file changed";
}

TEST_F(VornTest, WithoutADisplayTheToolkitEndsTheRun) {
  const std::string path = kCard + "/f";
  write_file(path, "");
  ASSERT_EQ(vorn({path, "t", "a", "g"}).status, 0);
  const auto run = vorn({path, "T", "A", "G"}, false);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("cannot open display"), std::string::npos) << run.err;
  EXPECT_EQ(stored_entry(kCard, kCard, "f").title, "t");
}

TEST_F(VornTest, StandardStreamsReachNothingElse) {
  const std::string path = kCard + "/f";
  write_file(path, "x");
  const std::string log = kCard + "/writes";
  struct Case {
    std::string redirect;
    std::vector<std::string> args;
    int status;
    std::string err;      // on vorn's standard error, when it is open
    std::string written;  // as strace shows the write
  };
  for (const Case &c : std::vector<Case>{
           {">/dev/full",
            {path, "full", "a", "g"},
            0,
            "vorn: standard output: No space left on device\n",
            ""},
           {">&-",
            {path, "closed", "a", "g"},
            0,
            "",
            "write(1</dev/null>, \"Processing: [file:" + path},
           {"2>&-",
            {"missing", "t", "a", "g"},
            66,
            "",
            "write(2</dev/null>, \"vorn: missing: No such file"}}) {
    SCOPED_TRACE(c.redirect);
    // Natively, strace shows where each write went; under qemu-user it
    // would see the emulator's own calls.
    std::vector<std::string> argv;
    if (!c.written.empty() && !emulated()) {
      argv = {"strace", "-f", "-qq",         "-y", "-s",
              "64",     "-e", "trace=write", "-o", log};
    }
    argv.insert(argv.end(), {"bash", "-c", "exec \"$@\" " + c.redirect, "_"});
    const auto vorn_argv = command(c.args);
    argv.insert(argv.end(), vorn_argv.begin(), vorn_argv.end());
    const auto run = run_process(
        argv, argv[0] == "strace" ? traced_environment() : environment());
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    if (c.status == 0) {
      EXPECT_EQ(stored_entry(kCard, kCard, "f").title, c.args[1]);
    }
    if (argv[0] == "strace") {
      EXPECT_NE(read_file(log).find(c.written), std::string::npos)
          << read_file(log);
    }
  }
}

// Answers that the stand-in never gives, from the scripted library: a
// failure code whose low byte is 0 ends with 254 and its line, and a
// standard stream whose status can't be read is taken for an open one.
TEST_F(VornTest, AnotherLibrarysAnswersHaveTheirStatuses) {
  const std::string path = kCard + "/f";
  write_file(path, "x");
  struct Case {
    const char *script;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  for (const Case &c : std::vector<Case>{
           {"add-fails-256",
            {path, "t", "a", "g"},
            kExitUnrepresentable,
            progress(path, "t", "a", "g"),
            "vorn: the library failed with code 256, which no exit status "
            "carries\n"},
           {"stdin-status-fails", {}, kExitNotStarted, "", kUsage}}) {
    SCOPED_TRACE(c.script);
    auto env = environment();
    env.push_back("LD_LIBRARY_PATH=" VORN_SCRIPTED_LIBRARY_DIR);
    env.push_back(std::string("ZEROVORA_SCRIPT=") + c.script);
    const Tree before = tree_of(kMedia);
    const auto run = run_process(command(c.args), env);
    EXPECT_EQ(changes_not_allowed(before, tree_of(kMedia), run), "");
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

// A closed stream with no /dev/null to open in its place: nothing runs.
TEST_F(VornTest, WithoutDevNullAClosedStreamEndsTheRun) {
  if (emulated()) GTEST_SKIP() << "the emulator may need /dev itself";
  std::vector<std::string> argv = {
      "unshare",
      "--mount",
      "bash",
      "-c",
      "mount -t tmpfs no-dev /dev && exec \"$@\" <&-",
      "_"};
  const auto vorn_argv = command({kCard + "/f", "t", "a", "g"});
  argv.insert(argv.end(), vorn_argv.begin(), vorn_argv.end());
  const auto run = run_process(argv, environment());
  EXPECT_EQ(run.status, kExitNotStarted);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "vorn: /dev/null: No such file or directory\n");
}

TEST(ExitStatusTest, IsTheResultModulo256ButNeverSuccessForAFailure) {
  EXPECT_EQ(exit_status_for(0), 0);
  EXPECT_EQ(exit_status_for(-1), 255);
  EXPECT_EQ(exit_status_for(4), 4);
  EXPECT_EQ(exit_status_for(66), 66);
  EXPECT_EQ(exit_status_for(300), 44);
  EXPECT_EQ(exit_status_for(256), kExitUnrepresentable);
  EXPECT_EQ(exit_status_for(-256), kExitUnrepresentable);
  EXPECT_EQ(exit_status_for(1 << 20), kExitUnrepresentable);
}

// Every exit status that vorn can end with: its own, and the library's
// codes, which it passes on.
std::set<int> statuses_of_the_code() {
  std::set<int> statuses = {0,
                            kExitNotStarted,
                            kResultNotAFileName,
                            kResultFileUnreadable,
                            kExitUnrepresentable,
                            exit_status_for(kResultDatabaseUnavailable)};
  for (const int code :
       {ZEROVORA_ERROR_ARGUMENT, ZEROVORA_ERROR_NOT_FOUND,
        ZEROVORA_ERROR_EXISTS, ZEROVORA_ERROR_NO_MEMORY, ZEROVORA_ERROR_BUSY,
        ZEROVORA_ERROR_FULL, ZEROVORA_ERROR_READ_ONLY, ZEROVORA_ERROR_CORRUPT,
        ZEROVORA_ERROR_IO}) {
    statuses.insert(exit_status_for(code));
  }
  return statuses;
}

// The man page's EXIT STATUS names each status once, as ".B N" or as a range
// ".BR N \" to \" M", and no status that vorn never ends with.
TEST(ManPageTest, NamesEveryExitStatusOfTheCodeAndNoOther) {
  std::ifstream page(VORN_MAN_PAGE);
  ASSERT_TRUE(page) << VORN_MAN_PAGE;
  std::multiset<int> named;
  bool in_section = false;
  std::string previous;
  for (std::string line; std::getline(page, line); previous = line) {
    if (line.starts_with(".SH")) in_section = line == ".SH EXIT STATUS";
    if (!in_section || previous != ".TP") continue;
    int first = 0;
    int last = 0;
    if (std::sscanf(line.c_str(), ".BR %d \" to \" %d", &first, &last) == 2) {
      for (int status = first; status <= last; ++status) named.insert(status);
    } else if (std::sscanf(line.c_str(), ".B %d", &first) == 1) {
      named.insert(first);
    }
  }
  const std::set<int> expected = statuses_of_the_code();
  EXPECT_EQ(named, std::multiset<int>(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace vorn::testing
