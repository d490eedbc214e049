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
#include "oracles.h"
#include "vorn_fixture.h"
#include "zerovora.h"

namespace vorn::testing {
namespace {

using SweepTest = VornTest;

// The points where SQLite's own handling of a failed call replaces the
// cause that the line would name, by the injected error (any, when empty)
// and the words that the line holds instead.
struct ToldOtherwise {
  const char *fault;
  const char *words;
};
constexpr ToldOtherwise kToldOtherwise[] = {
    // SQLite's check that the file was not moved takes a failed stat for a
    // moved file.
    {"error=EIO", ": no longer the file at its path"},
    // The default VFS opens the file read-only after any failure of its
    // read-write open, and then fails the write.
    {"", ": the card or the file is read-only"},
    // Its read-only retry of the journal's open fails with ENOENT, which
    // replaces the error of the first try.
    {"", ": it or its journal can't be opened: No such file or directory"},
    // SQLite tells a failed read of a page as damage.
    {"error=EIO", ": damaged"},
    // A failed lookup counts as no entry, as vorn's lookup-then-add is
    // specified; the add then finds the entry, which it leaves as it is.
    {"error=EIO", ": it already holds an entry for that file"},
};

bool told_otherwise_by_sqlite(const std::string &fault,
                              const std::string &err) {
  for (const ToldOtherwise &other : kToldOtherwise) {
    if ((*other.fault == '\0' || fault == other.fault) &&
        err.find(other.words) != std::string::npos) {
      return true;
    }
  }
  return false;
}

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
    // Failed calls whose line names what SQLite made of them.
    std::vector<std::string> told_otherwise;
    int kind_points = 0;
    for (const auto &[call, count] : calls.counts) {
      for (int n = 1; n <= count; ++n) {
        for (const auto &action : faults_for(call)) {
          const std::string point =
              call + "#" + std::to_string(n) + " " + action;
          SCOPED_TRACE(std::string(kind.name) + ": " + point);
          restore();
          const Tree before = tree_of(kMedia);
          const auto run = run_with_fault(command(args), traced_environment(),
                                          call, n, action);
          ++kind_points;
          // The card holds what the outcome allows: a journal whose deletion
          // failed stays, and so may the database file that a failed open
          // made, empty or blank (of our schema, with no entry, or with the
          // journal of its schema beside it), when the failure struck
          // between making it and committing its schema: SQLite's failed
          // open leaves no connection to lock it with for its removal, and
          // the next run uses it as it is.
          const bool deletion_failed = call == "unlink";
          const std::string changed = changes_not_allowed(
              before, tree_of(kMedia), run, deletion_failed);
          const bool blank_made =
              changed == "made " + kDatabaseFile + "\n" &&
              (deletion_failed || read_file(kDatabaseFile).empty() ||
               count_entries(kDatabaseFile) == 0);
          EXPECT_TRUE(changed.empty() || blank_made) << changed;
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
          // A failed run's line names the injected error's cause, and a
          // full card ends with 7 (255 when the open fails).
          const std::string cause = cause_of(action);
          if (run.status != 0 && !cause.empty()) {
            if (run.err.find(cause) != std::string::npos) {
              EXPECT_TRUE(cause != cause_of("error=ENOSPC") ||
                          run.status == ZEROVORA_ERROR_FULL ||
                          run.status == 255)
                  << run.status;
            } else if (told_otherwise_by_sqlite(action, run.err)) {
              told_otherwise.push_back(point + " -> " +
                                       run.err.substr(0, run.err.size() - 1));
            } else {
              ADD_FAILURE()
                  << "the line does not name " << cause << ": " << run.err;
            }
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
    std::printf("; told otherwise by SQLite:");
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
