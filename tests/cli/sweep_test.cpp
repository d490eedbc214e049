// SPDX-License-Identifier: MIT
// Every occurrence of every file system call that a run makes on the card
// is killed and then failed, and the card stays sound. The test prints the
// points it found.
#include "sweep.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "database.h"
#include "files.h"
#include "vorn_fixture.h"
#include "zerovora.h"

namespace vorn::testing {
namespace {

using SweepTest = VornTest;

// Every occurrence of every file system call that a run makes on the card
// (its database, its journal and its folder), counted from a traced clean
// run, is killed and then failed, for an add on a new card, an add on a card
// with entries, and a change.
// A clean run syncs its journal, the file and the folder before it ends.
TEST_F(SweepTest, EveryKillAndFailurePointLeavesASoundCard) {
  if (emulated()) {
    GTEST_SKIP() << "under qemu-user, strace sees the emulator's own system "
                    "calls rather than the target's: the sweep runs natively";
  }
  const Entry old{1, 0, "t", "a", "g"};
  struct Kind {
    const char *name;
    int stored;
    bool change;
  };
  int points = 0;
  for (const Kind &kind : {Kind{"add on a new card", 0, false},
                           Kind{"add on a card with entries", 3, false},
                           Kind{"change", 3, true}}) {
    std::filesystem::remove(kDatabaseFile);
    std::vector<std::string> names;
    for (int i = 0; i < kind.stored; ++i) {
      names.push_back(std::string("e").append(std::to_string(i)));
      write_file(kCard + "/" + names.back(), "x");
      set_mtime(kCard + "/" + names.back(), 0);
      ASSERT_EQ(vorn({kCard + "/" + names.back(), "t", "a", "g"}).status, 0);
    }
    const bool had_database = exists(kDatabaseFile);
    const std::string snapshot = had_database ? read_file(kDatabaseFile) : "";
    const auto restore = [&] {
      std::filesystem::remove(kJournal);
      std::filesystem::remove(kDatabaseFile);
      if (had_database) write_file(kDatabaseFile, snapshot);
    };
    const std::string target = kind.change ? names[0] : "new";
    write_file(kCard + "/new", "x");
    set_mtime(kCard + "/new", 0);
    write_file(kCard + "/next", "x");
    const std::vector<std::string> args = {kCard + "/" + target, "T", "A", "G"};
    const CardCalls calls =
        trace_card_calls(command(args), traced_environment());
    const auto &events = calls.syncs_and_unlinks;
    for (const std::string &path : {kJournal, kDatabaseFile, kCard}) {
      EXPECT_NE(std::find(events.begin(), events.end(), "sync " + path),
                events.end())
          << kind.name << ": " << path << " was not synced before the end";
    }
    // Deleting the journal commits: the folder is synced after that, so
    // that a power cut can't bring the journal back.
    const auto last_unlink =
        std::find(events.rbegin(), events.rend(), "unlink " + kJournal);
    EXPECT_TRUE(last_unlink != events.rend() &&
                std::find(events.rbegin(), last_unlink, "sync " + kCard) !=
                    last_unlink)
        << kind.name << ": the folder was not synced after the journal went";
    std::vector<std::string> stored_on_failure;
    // Failed I/O whose line names another cause than the system's.
    std::vector<std::string> told_otherwise;
    int kind_points = 0;
    for (const auto &[call, count] : calls.counts) {
      for (int n = 1; n <= count; ++n) {
        for (const auto &action : faults_for(call)) {
          const std::string point =
              call + "#" + std::to_string(n) + " " + action;
          SCOPED_TRACE(std::string(kind.name) + ": " + point);
          restore();
          const auto run = run_with_fault(command(args), traced_environment(),
                                          call, n, action);
          ++kind_points;
          const bool killed = action == "signal=KILL";
          EXPECT_TRUE(!killed || run.signal == SIGKILL) << "not reached";
          // The next run comes first: it meets what this one left.
          EXPECT_EQ(vorn({kCard + "/next", "t", "a", "g"}).status, 0)
              << run.out << run.err;
          EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
          for (const auto &name : names) {
            EXPECT_TRUE(name == target || read_entry(kCard, kCard, name) == old)
                << name << " was lost or changed";
          }
          const auto entry = read_entry(kCard, kCard, target);
          const bool is_new = entry == Entry{1, 0, "T", "A", "G"};
          const bool is_old = kind.change ? entry == old : !entry;
          EXPECT_TRUE(is_new || is_old) << "a torn entry";
          EXPECT_TRUE(run.status != 0 || is_new) << "success without values";
          // A failure says why in one line; a success says nothing.
          if (!killed) {
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'),
                      run.status != 0 ? 1 : 0)
                << run.status << ": " << run.err;
          }
          // A full card: 7, or 255 while a new card's schema is written.
          // (A journal that can't be made for want of room is proved on a
          // card without inodes: here the next try to make it succeeds.)
          if (action == "error=ENOSPC" && call != "openat" && run.status != 0) {
            EXPECT_TRUE(run.status == ZEROVORA_ERROR_FULL || run.status == 255)
                << run.status;
            EXPECT_NE(run.err.find(": the card is full\n"), std::string::npos)
                << run.err;
          }
          if (action == "error=EIO" && run.status != 0 &&
              run.err.find("Input/output error") == std::string::npos) {
            told_otherwise.push_back(point + " -> " +
                                     run.err.substr(0, run.err.size() - 1));
          }
          if (!killed && run.status != 0 && is_new)
            stored_on_failure.push_back(point + " -> " +
                                        std::to_string(run.status));
        }
      }
    }
    std::printf("%s: %d points in %zu calls", kind.name, kind_points,
                calls.counts.size());
    for (const auto &[call, count] : calls.counts)
      std::printf(" %s:%d", call.c_str(), count);
    std::printf("; stored although the run failed:");
    for (const auto &point : stored_on_failure)
      std::printf(" [%s]", point.c_str());
    std::printf("; an I/O error told as another cause:");
    for (const auto &point : told_otherwise)
      std::printf(" [%s]", point.c_str());
    std::printf("\n");
    EXPECT_GT(kind_points, 0) << "the traced run hit no point";
    points += kind_points;
  }
  std::printf("%d points in all\n", points);
}

}  // namespace
}  // namespace vorn::testing
