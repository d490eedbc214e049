// SPDX-License-Identifier: MIT
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
#include <cctype>
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

// Full of data, or with no entry left for a new file (no inode on a tmpfs;
// on FAT, a root directory whose last cluster is full on a full card).
TEST_F(ReliabilityTest, AFullCardRefusesTheAddAndKeepsEverything) {
  for (const bool entries : {false, true}) {
    SCOPED_TRACE(entries ? "no entry left for a new file" : "no space left");
    if (!fat_card()) {
      ASSERT_EQ(mount("full-card", kCard.c_str(), "tmpfs", 0,
                      entries ? "size=1m,nr_inodes=64" : "size=256k"),
                0);
    }
    for (int i = 0; i < 5; ++i) {
      write_file(kCard + "/" + std::to_string(i), "x");
      ASSERT_EQ(vorn({kCard + "/" + std::to_string(i), "t", "a", "g"}).status,
                0);
    }
    write_file(kCard + "/new", "new");
    if (!entries || fat_card()) fill_up(kCard);
    for (int i = 0; entries; ++i) {
      std::FILE *f =
          std::fopen((kCard + "/filler" + std::to_string(i)).c_str(), "w");
      if (f == nullptr) break;
      std::fclose(f);
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
    for (const auto &file : std::filesystem::directory_iterator(kCard)) {
      if (file.path().filename().string().starts_with("filler")) {
        std::filesystem::remove(file.path());
      }
    }
    EXPECT_EQ(vorn({kCard + "/new", "t", "a", "g"}).status, 0);
    EXPECT_EQ(count_entries(kDatabaseFile), 6);
    if (fat_card()) {
      for (const auto &file : std::filesystem::directory_iterator(kCard)) {
        std::filesystem::remove(file.path());
      }
    } else {
      ASSERT_EQ(umount(kCard.c_str()), 0);
    }
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

// An entry holding a value longer than the library reads (another program
// wrote it) is found all the same, and changed: the new values replace the
// stored ones, and the stored size and time stay.
TEST_F(ReliabilityTest, AnEntryWithAValueTooLongToReadIsChanged) {
  for (const std::string column : {"title", "author", "tag"}) {
    SCOPED_TRACE(column);
    const std::string name = "big " + column;
    const std::string path = kCard + "/" + name;
    write_file(path, "x");
    set_mtime(path, 1000000000);
    ASSERT_EQ(vorn({path, "t", "a", "g"}).status, 0);
    run_sql(kDatabaseFile, "UPDATE files SET " + column + " = cast(zeroblob(" +
                               std::to_string(zerovora::kMaxEntryLength + 1) +
                               ") AS TEXT) WHERE name = '" + name + "'");
    write_file(path, "longer now");
    const auto run = vorn({path, "T", "A", "G"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(stored_entry(kCard, kCard, name),
              (Entry{1, 1000000000, "T", "A", "G"}));
  }
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
    set_mtime(path, 1000000000 + 2 * static_cast<time_t>(i));
    const auto run = vorn({path, values[i], values[i], values[i]});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress(path, values[i], values[i], values[i]));
    EXPECT_EQ(stored_entry(kCard, kCard, name),
              (Entry{1, 1000000000 + 2 * static_cast<std::int64_t>(i),
                     values[i], values[i], values[i]}));
  }
}

TEST_F(ReliabilityTest, EveryKindOfPathHasADefinedOutcome) {
  // A FAT card holds none of the links, the FIFO or the newline: on one,
  // those paths are on a tmpfs beside it.
  const std::string other = fat_card() ? std::string(kMedia) : kCard;
  if (fat_card()) {
    std::printf(
        "on %s, the link, the FIFO and the name with a newline are "
        "off the card: FAT has none\n",
        card_format().c_str());
  }
  const std::string spaced = other + "/with spaces\nand a newline";
  write_file(spaced, "12");
  ASSERT_EQ(mkdir((kCard + "/folder").c_str(), 0755), 0);
  write_file(other + "/target", "12345");
  ASSERT_EQ(symlink("target", (other + "/link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (other + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((other + "/fifo").c_str(), 0644), 0);
  struct Case {
    std::string path;
    int status;
    std::int64_t mtime = -1;  // -1: as the test's own stat gives it
  };
  std::vector<Case> cases = {{spaced, 0},          {kCard + "/folder", 0},
                             {other + "/link", 0}, {other + "/fifo", 0},
                             {"/dev/zero", 0},     {other + "/dangling", 66}};
  // After January 2038, which a 32-bit time_t can't hold; set by the host's
  // touch, since a test built for such a target can't set it either. On
  // such a target itself (the emulated device), nothing here can set it.
  constexpr std::int64_t k2039 = 2191000000;
  write_file(kCard + "/from-2039", "2039");
  if (run_process(
          {"touch", "-m", "-d", std::string("@").append(std::to_string(k2039)),
           kCard + "/from-2039"},
          {"PATH=/usr/bin:/bin"})
          .status == 0) {
    cases.push_back({kCard + "/from-2039", 0, k2039});
  } else {
    ASSERT_EQ(sizeof(time_t), 4u) << "touch could not set a time in 2039";
    std::printf(
        "no file from 2039: this system's touch can't set a time "
        "after 2038\n");
  }
  for (const auto &c : cases) {
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
  EXPECT_EQ(stored_entry(kCard, other, "link").size, 5);
}

// On the emulated device's FAT32 or exFAT card: what such a file system does
// of its own. A name in another case is the same file, and times are kept
// to 2 seconds (FAT32) or 10 ms (exFAT).
class FatCardTest : public ReliabilityTest {
 protected:
  void SetUp() override {
    ReliabilityTest::SetUp();
    if (!fat_card()) {
      GTEST_SKIP() << "needs a FAT32 or exFAT card: scripts/device-vm.sh "
                      "runs these on the emulated device";
    }
  }

  // The database file's name in upper case, as another system may write it.
  static std::string upper(const std::string &name) {
    std::string upper = name;
    for (char &c : upper) c = static_cast<char>(std::toupper(c));
    return kCard + "/" + upper;
  }
};

TEST_F(FatCardTest, ASideFileInAnotherCaseIsRefusedAsTheSideFile) {
  write_file(kCard + "/known", "x");
  ASSERT_EQ(vorn({kCard + "/known", "t", "a", "g"}).status, 0);
  write_file(upper(zerovora::kDatabaseFileName + std::string("-wal")),
             std::string(4096, 'w'));
  write_file(kCard + "/new", "x");
  const Tree before = tree_of(kCard);
  const auto run = vorn({kCard + "/new", "t", "a", "g"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out, progress(kCard + "/new", "t", "a", "g") + kOpenFailure);
  EXPECT_NE(run.err.find("-wal: a write-ahead log that"), std::string::npos)
      << run.err;
  EXPECT_EQ(changes(before, tree_of(kCard)), "");
}

TEST_F(FatCardTest, AJournalRenamedInAnotherCaseIsRolledBack) {
  write_file(kCard + "/known", "x");
  ASSERT_EQ(vorn({kCard + "/known", "t", "a", "g"}).status, 0);
  leave_hot_journal(kDatabaseFile,
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                    "FROM n WHERE i < 2000) INSERT INTO files SELECT '/x', "
                    "'f' || i, 1, 1, 't', 'a', 'g' FROM n");
  const std::string renamed =
      upper(zerovora::kDatabaseFileName + std::string("-journal"));
  ASSERT_EQ(std::rename(kJournal.c_str(), renamed.c_str()), 0);
  write_file(kCard + "/new", "x");
  EXPECT_EQ(vorn({kCard + "/new", "t", "a", "g"}).status, 0);
  EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
  EXPECT_EQ(count_entries(kDatabaseFile), 2);
  EXPECT_FALSE(exists(renamed));
}

TEST_F(FatCardTest, TheStoredTimeIsTheOneThatStatGives) {
  const std::string path = kCard + "/odd";
  write_file(path, "x");
  set_mtime(path, 1000000001);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  ASSERT_EQ(vorn({path, "t", "a", "g"}).status, 0);
  EXPECT_EQ(stored_entry(kCard, kCard, "odd").mtime, st.st_mtime);
  std::printf("on %s, a time set to 1000000001 reads %lld\n",
              card_format().c_str(), static_cast<long long>(st.st_mtime));
}

TEST_F(FatCardTest, SixteenWritersAtOnceAllStoreTheirEntries) {
  std::vector<std::string> paths;
  std::vector<std::string> titles;
  for (int i = 0; i < 16; ++i) {
    paths.push_back(kCard + "/book-" + std::to_string(i));
    titles.push_back("title " + std::to_string(i));
    write_file(paths.back(), "x");
  }
  const auto results = run_at_once(paths, titles);
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].status, 0) << "run " << i << ": " << results[i].err;
  }
  EXPECT_EQ(count_entries(kDatabaseFile), 16);
}

}  // namespace
}  // namespace vorn::testing
