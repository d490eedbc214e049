// SPDX-License-Identifier: MIT
// Writers killed at random moments of their write, on a card on the
// machine's disk: nothing stored is lost, and the next run goes on at once.
// The test prints the figures it measures.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "database.h"
#include "files.h"
#include "journal_watch.h"
#include "vorn_fixture.h"

namespace vorn::testing {
namespace {

using std::chrono::steady_clock;

// The card on the machine's disk, where syncs take real time, bound over
// the private card's media root.
class DiskCardTest : public VornTest {
 protected:
  void SetUp() override {
    VornTest::SetUp();
    char pattern[] = "/var/tmp/vorn-card-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    disk_ = pattern;
    ASSERT_EQ(mount(disk_.c_str(), kCard.c_str(), nullptr, MS_BIND, nullptr),
              0);
  }
  void TearDown() override {
    VornTest::TearDown();
    std::filesystem::remove_all(disk_);
  }
  std::string disk_;
};

TEST_F(DiskCardTest, WritersKilledMidWriteLoseNothing) {
  constexpr int kKept = 20;
  constexpr int kKilled = 200;
  std::vector<std::string> kept;
  std::vector<double> write_ms;
  JournalWatch watch;
  for (int i = 0; i < kKept; ++i) {
    const std::string path = kCard + "/kept-" + std::to_string(i);
    write_file(path, "kept");
    Child child =
        start_process(command({path, "kept", "a", "g"}), environment());
    if (watch.wait_created(child.pid)) {
      const auto created = steady_clock::now();
      if (watch.wait_deleted(child.pid)) {
        write_ms.push_back(std::chrono::duration<double, std::milli>(
                               steady_clock::now() - created)
                               .count());
      }
    }
    const auto run = finish_process(child, in_seconds(60));
    ASSERT_EQ(run.status, 0) << run.err;
    kept.push_back("kept-" + std::to_string(i));
  }
  ASSERT_FALSE(write_ms.empty());
  std::sort(write_ms.begin(), write_ms.end());
  // Kills land at random moments from the journal's creation to a little
  // past the usual commit.
  const double window_ms = 1.5 * write_ms[write_ms.size() / 2];
  std::mt19937 random(20261208);
  std::uniform_real_distribution<double> delay(0.0, window_ms);

  int killed = 0;
  int mid_write = 0;
  for (int i = 0; i < kKilled; ++i) {
    const std::string name = "killed-" + std::to_string(i);
    write_file(kCard + "/" + name, "killed");
    Child child = start_process(command({kCard + "/" + name, "k", "a", "g"}),
                                environment());
    if (watch.wait_created(child.pid)) {
      // Every other writer is stopped as soon as its journal exists, so that
      // its kill lands inside the write however loaded the machine is (a
      // writer that commits first is told apart below); the others at a
      // random moment.
      if (i % 2 == 0) {
        kill(child.pid, SIGSTOP);
      } else {
        std::this_thread::sleep_for(
            std::chrono::duration<double, std::milli>(delay(random)));
      }
      kill(child.pid, SIGKILL);
    }
    const auto run = finish_process(child, in_seconds(60));
    if (run.signal == SIGKILL) {
      ++killed;
      if (exists(kJournal)) ++mid_write;
    } else {
      EXPECT_EQ(run.status, 0) << name;
      kept.push_back(name);
    }
  }
  std::printf(
      "%d runs: %d killed, %d of them mid-write (a journal left behind); "
      "median write %.2f ms, kill window %.2f ms\n",
      kKilled, killed, mid_write, write_ms[write_ms.size() / 2], window_ms);
  EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
  const auto start = steady_clock::now();
  write_file(kCard + "/after", "after");
  EXPECT_EQ(vorn({kCard + "/after", "t", "a", "g"}).status, 0);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
  for (const auto &name : kept) {
    EXPECT_TRUE(read_entry(kCard, kCard, name)) << name << " was lost";
  }
  if (mid_write < kKilled / 10) {
    GTEST_SKIP() << "only " << mid_write << " of " << kKilled
                 << " kills landed inside a write: the machine was too "
                    "loaded for the kills to prove what they should";
  }
}

}  // namespace
}  // namespace vorn::testing
