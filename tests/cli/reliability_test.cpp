// vorn under load, on a full or read-only card, with database files that are
// not its own and with hostile input: nothing stored is lost, nothing is
// invented, and every run ends with a defined status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bounds.h"
#include "database.h"
#include "files.h"
#include "vorn_fixture.h"
#include "zerovora.h"

namespace vorn::testing {
namespace {

class ReliabilityTest : public VornTest {
 protected:
  // Runs vorn on (path, title, "author", "tag") for every title at once;
  // returns the results in the same order.
  std::vector<ProcessResult> run_at_once(
      const std::vector<std::string> &paths,
      const std::vector<std::string> &titles) {
    std::vector<Child> children;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      children.push_back(start_process(
          command({paths[i], titles[i], "author", "tag"}), environment()));
    }
    std::vector<ProcessResult> results;
    const auto deadline = in_seconds(300);
    for (auto &child : children) {
      results.push_back(finish_process(child, deadline));
    }
    return results;
  }
};

TEST_F(ReliabilityTest, ThirtyTwoRunsAtOnceOnANewCardAllStoreTheirEntries) {
  constexpr int kRounds = 10;
  constexpr int kRuns = 32;
  for (int round = 0; round < kRounds; ++round) {
    std::filesystem::remove(kDatabaseFile);
    std::vector<std::string> paths;
    std::vector<std::string> titles;
    for (int i = 0; i < kRuns; ++i) {
      paths.push_back(kCard + "/book-" + std::to_string(i));
      titles.push_back("title " + std::to_string(round) + "/" +
                       std::to_string(i));
      write_file(paths.back(), std::string(static_cast<std::size_t>(i), 'x'));
      set_mtime(paths.back(), 5000 + i);
    }
    const auto results = run_at_once(paths, titles);
    for (int i = 0; i < kRuns; ++i) {
      SCOPED_TRACE("round " + std::to_string(round) + ", run " +
                   std::to_string(i));
      EXPECT_EQ(results[i].status, 0);
      EXPECT_EQ(results[i].out, progress(paths[i], titles[i], "author", "tag"));
      EXPECT_EQ(results[i].err, "");
      EXPECT_EQ(stored_entry(kCard, kCard, paths[i].substr(kCard.size() + 1)),
                (Entry{i, 5000 + i, titles[i], "author", "tag"}));
    }
    EXPECT_EQ(count_entries(kDatabaseFile), kRuns);
  }
  std::printf("%d rounds of %d runs at once on a new card: all stored\n",
              kRounds, kRuns);
}

TEST_F(ReliabilityTest, EightRunsAtOnceOnOneNewFileLeaveOneEntry) {
  constexpr int kRounds = 10;
  constexpr int kRuns = 8;
  const std::string path = kCard + "/shared";
  write_file(path, "x");
  for (int round = 0; round < kRounds; ++round) {
    std::filesystem::remove(kDatabaseFile);
    std::vector<std::string> titles;
    for (int i = 0; i < kRuns; ++i) {
      titles.push_back(std::string("t").append(std::to_string(i)));
    }
    const auto results =
        run_at_once(std::vector<std::string>(kRuns, path), titles);
    std::vector<std::string> succeeded;
    for (int i = 0; i < kRuns; ++i) {
      EXPECT_TRUE(results[i].status == 0 ||
                  results[i].status == ZEROVORA_ERROR_EXISTS)
          << "run " << i << " ended with " << results[i].status << ": "
          << results[i].err;
      if (results[i].status == 0) succeeded.push_back(titles[i]);
    }
    EXPECT_EQ(count_entries(kDatabaseFile), 1);
    const auto entry = read_entry(kCard, kCard, "shared");
    ASSERT_TRUE(entry);
    EXPECT_NE(std::find(succeeded.begin(), succeeded.end(), entry->title),
              succeeded.end())
        << "stored title " << entry->title << " is of no successful run";
  }
}

// Full of data, or of files (no inode left for the journal, as a full root
// directory on FAT leaves no entry for it).
TEST_F(ReliabilityTest, AFullCardRefusesTheAddAndKeepsEverything) {
  for (const bool inodes : {false, true}) {
    SCOPED_TRACE(inodes ? "no inode left" : "no space left");
    ASSERT_EQ(mount("full-card", kCard.c_str(), "tmpfs", 0,
                    inodes ? "size=1m,nr_inodes=64" : "size=256k"),
              0);
    for (int i = 0; i < 5; ++i) {
      write_file(kCard + "/" + std::to_string(i), "x");
      ASSERT_EQ(vorn({kCard + "/" + std::to_string(i), "t", "a", "g"}).status,
                0);
    }
    write_file(kCard + "/new", "new");
    std::vector<std::string> fillers;
    if (inodes) {
      for (int i = 0; std::FILE *f = std::fopen(
                          (kCard + "/filler" + std::to_string(i)).c_str(), "w");
           ++i) {
        std::fclose(f);
        fillers.push_back(kCard + "/filler" + std::to_string(i));
      }
    } else {
      fill_up(kCard);
      fillers.push_back(kCard + "/filler");
    }
    const auto run = vorn({kCard + "/new", "t", "a", "g"});
    EXPECT_EQ(run.status, ZEROVORA_ERROR_FULL);
    EXPECT_EQ(run.out, progress(kCard + "/new", "t", "a", "g"));
    EXPECT_EQ(run.err, "zerovora: " + kDatabaseFile + ": the card is full\n");
    EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
    EXPECT_EQ(count_entries(kDatabaseFile), 5);
    for (int i = 0; i < 5; ++i) {
      EXPECT_TRUE(read_entry(kCard, kCard, std::to_string(i)));
    }
    ASSERT_EQ(unlink(fillers.back().c_str()), 0);
    EXPECT_EQ(vorn({kCard + "/new", "t", "a", "g"}).status, 0);
    EXPECT_EQ(count_entries(kDatabaseFile), 6);
    ASSERT_EQ(umount(kCard.c_str()), 0);
  }
}

TEST_F(ReliabilityTest, AReadOnlyCardRefusesWritesAndKeepsItsBytes) {
  write_file(kCard + "/known", "x");
  write_file(kCard + "/new", "x");
  // Without a database there is none to open, and none can be made.
  ASSERT_EQ(
      mount(nullptr, kCard.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
      0);
  auto run = vorn({kCard + "/new", "t", "a", "g"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.err, "zerovora: " + kDatabaseFile +
                         ": no database file can be made: the card is "
                         "read-only\n");
  ASSERT_EQ(mount(nullptr, kCard.c_str(), nullptr, MS_REMOUNT, nullptr), 0);
  EXPECT_FALSE(exists(kDatabaseFile));
  ASSERT_EQ(vorn({kCard + "/known", "t", "a", "g"}).status, 0);
  const std::string before = read_file(kDatabaseFile);
  ASSERT_EQ(
      mount(nullptr, kCard.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
      0);
  run = vorn({kCard + "/new", "t", "a", "g"});
  EXPECT_EQ(run.status, ZEROVORA_ERROR_READ_ONLY);
  EXPECT_EQ(run.out, progress(kCard + "/new", "t", "a", "g"));
  EXPECT_EQ(run.err, "zerovora: " + kDatabaseFile +
                         ": the card or the file is read-only\n");
  EXPECT_EQ(vorn({kCard + "/known", "T", "A", "G"}).status,
            ZEROVORA_ERROR_READ_ONLY);
  EXPECT_TRUE(read_file(kDatabaseFile) == before) << "the file changed";
  EXPECT_EQ(stored_entry(kCard, kCard, "known").title, "t");
}

// An entry holding a value longer than the library reads can't be looked
// up: the run ends with 4, and the entry and the whole file stay as they are.
TEST_F(ReliabilityTest, AnEntryTooLongToReadIsLeftAlone) {
  const std::string path = kCard + "/big";
  write_file(path, "x");
  ASSERT_EQ(vorn({path, "t", "a", "g"}).status, 0);
  run_sql(kDatabaseFile, "UPDATE files SET tag = cast(zeroblob(" +
                             std::to_string(zerovora::kMaxEntryLength + 1) +
                             ") AS TEXT)");
  const std::string before = read_file(kDatabaseFile);
  const auto run = vorn({path, "T", "A", "G"});
  EXPECT_EQ(run.status, ZEROVORA_ERROR_EXISTS);
  EXPECT_EQ(run.err, "zerovora: " + kDatabaseFile +
                         ": it already holds an entry for that file\n");
  EXPECT_TRUE(read_file(kDatabaseFile) == before) << "the file changed";
}

TEST_F(ReliabilityTest, HostileValuesAreStoredAndPrintedVerbatim) {
  std::string control;
  for (int c = 1; c < 32; ++c) control += static_cast<char>(c);
  control += '\x7f';
  const std::vector<std::string> values = {
      "%s%n%x%p%%",
      "%s%n%x \"q\" 'q'",
      "'single' \"double\" `back`",
      "x'); DROP TABLE files; --",
      "'); DELETE FROM files; --",
      "line one\nline two\r\n",
      "two\nlines \xc3\xa9\xff",
      "\xff\xfe invalid \xc3\x28 utf-8 \xed\xa0\x80",
      control,
      std::string(100 * 1024, 'L') + "end",
  };
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE("value " + std::to_string(i));
    const std::string name = std::string("%s v").append(std::to_string(i));
    const std::string path = kCard + "/" + name;
    write_file(path, "x");
    set_mtime(path, 1000 + static_cast<time_t>(i));
    const auto run = vorn({path, values[i], values[i], values[i]});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress(path, values[i], values[i], values[i]));
    EXPECT_EQ(stored_entry(kCard, kCard, name),
              (Entry{1, 1000 + static_cast<std::int64_t>(i), values[i],
                     values[i], values[i]}));
  }
}

TEST_F(ReliabilityTest, EveryKindOfPathHasADefinedOutcome) {
  const std::string spaced = kCard + "/with spaces\nand a newline";
  write_file(spaced, "12");
  ASSERT_EQ(mkdir((kCard + "/folder").c_str(), 0755), 0);
  write_file(kCard + "/target", "12345");
  ASSERT_EQ(symlink("target", (kCard + "/link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (kCard + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((kCard + "/fifo").c_str(), 0644), 0);
  // After January 2038, which a 32-bit time_t can't hold; set by the host's
  // touch, since a test built for such a target can't set it either.
  constexpr std::int64_t k2039 = 2191000000;
  write_file(kCard + "/from-2039", "2039");
  ASSERT_EQ(run_process({"touch", "-m", "-d",
                         std::string("@").append(std::to_string(k2039)),
                         kCard + "/from-2039"},
                        {"PATH=/usr/bin:/bin"})
                .status,
            0);

  struct Case {
    std::string path;
    int status;
    std::int64_t mtime = -1;  // -1: as the test's own stat gives it
  };
  for (const auto &c : std::vector<Case>{{spaced, 0},
                                         {kCard + "/folder", 0},
                                         {kCard + "/link", 0},
                                         {kCard + "/fifo", 0},
                                         {"/dev/zero", 0},
                                         {kCard + "/from-2039", 0, k2039},
                                         {kCard + "/dangling", 66}}) {
    SCOPED_TRACE(c.path);
    const auto run =
        vorn({c.path, "t", "a", "g"}, true, std::chrono::seconds(10));
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, c.status);
    struct stat st {};
    const bool readable = stat(c.path.c_str(), &st) == 0;
    const std::string directory = std::filesystem::path(c.path).parent_path();
    const std::string name = std::filesystem::path(c.path).filename();
    const auto entry = read_entry(kCard, directory, name);
    if (readable) {
      ASSERT_TRUE(entry);
      EXPECT_EQ(entry->size, st.st_size);
      EXPECT_EQ(entry->mtime, c.mtime == -1 ? st.st_mtime : c.mtime);
    } else {
      EXPECT_FALSE(entry);
      EXPECT_EQ(run.err, "vorn: " + c.path +
                             ": No such file or directory; the lookup found "
                             "no entry for it, so none was added\n");
    }
  }
  EXPECT_EQ(stored_entry(kCard, kCard, "link").size, 5);
}

}  // namespace
}  // namespace vorn::testing
