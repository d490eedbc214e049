// vorn under load, killed mid-write, on a full or read-only card, with
// database files that are not its own and with hostile input: nothing stored
// is lost, nothing is invented, and every run ends with a defined status.
// The tests print the figures they measure.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
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

#include "database.h"
#include "files.h"
#include "vorn_fixture.h"
#include "zerovora.h"

namespace vorn::testing {
namespace {

using std::chrono::steady_clock;

const std::string kRoot = kCard;
const std::string kJournal = std::string(kDatabaseFile) + "-journal";

steady_clock::time_point in_seconds(int seconds) {
  return steady_clock::now() + std::chrono::seconds(seconds);
}

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

  // Expects vorn to refuse the database file that is at kDatabaseFile and
  // to leave it as it was.
  void expect_refused(const std::string &what) {
    SCOPED_TRACE(what);
    write_file(kRoot + "/f", "");
    const std::string before = read_file(kDatabaseFile);
    const auto run = vorn({kRoot + "/f", "t", "a", "g"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, progress(kRoot + "/f", "t", "a", "g") + kOpenFailure);
    EXPECT_TRUE(read_file(kDatabaseFile) == before) << "the file changed";
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
      paths.push_back(kRoot + "/book-" + std::to_string(i));
      titles.push_back("title " + std::to_string(round) + "/" +
                       std::to_string(i));
      write_file(paths.back(), std::string(static_cast<std::size_t>(i), 'x'));
    }
    const auto results = run_at_once(paths, titles);
    for (int i = 0; i < kRuns; ++i) {
      SCOPED_TRACE("round " + std::to_string(round) + ", run " +
                   std::to_string(i));
      EXPECT_EQ(results[i].status, 0);
      EXPECT_EQ(results[i].out, progress(paths[i], titles[i], "author", "tag"));
      EXPECT_EQ(results[i].err, "");
      const auto entry = read_entry(kRoot, kRoot, "book-" + std::to_string(i));
      ASSERT_TRUE(entry);
      EXPECT_EQ(*entry, (Entry{i, entry->mtime, titles[i], "author", "tag"}));
    }
    EXPECT_EQ(count_entries(kDatabaseFile), kRuns);
  }
  std::printf("%d rounds of %d runs at once on a new card: all stored\n",
              kRounds, kRuns);
}

TEST_F(ReliabilityTest, EightRunsAtOnceOnOneNewFileLeaveOneEntry) {
  constexpr int kRounds = 10;
  constexpr int kRuns = 8;
  const std::string path = kRoot + "/shared";
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
    const auto entry = read_entry(kRoot, kRoot, "shared");
    ASSERT_TRUE(entry);
    EXPECT_NE(std::find(succeeded.begin(), succeeded.end(), entry->title),
              succeeded.end())
        << "stored title " << entry->title << " is of no successful run";
  }
}

// Watches the card's directory for the journal that a write creates at its
// start and deletes when it commits.
class JournalWatch {
 public:
  JournalWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    inotify_add_watch(fd_, kCard, IN_CREATE | IN_DELETE);
  }
  ~JournalWatch() { close(fd_); }
  JournalWatch(const JournalWatch &) = delete;
  JournalWatch &operator=(const JournalWatch &) = delete;

  // Waits until the journal is created (true) or `pid` has ended (false).
  bool wait_created(pid_t pid) { return wait_for(IN_CREATE, pid); }
  bool wait_deleted(pid_t pid) { return wait_for(IN_DELETE, pid); }

 private:
  bool wait_for(uint32_t mask, pid_t pid) {
    const auto deadline = in_seconds(60);
    alignas(inotify_event) char buffer[4096];
    while (steady_clock::now() < deadline) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto *event =
            reinterpret_cast<const inotify_event *>(buffer + at);
        if ((event->mask & mask) != 0 && event->len > 0 &&
            kJournal == kRoot + "/" + event->name) {
          return true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      siginfo_t info{};
      if (n <= 0 &&
          waitid(P_PID, static_cast<id_t>(pid), &info,
                 WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid) {
        return false;
      }
      std::this_thread::yield();
    }
    return false;
  }

  int fd_;
};

// The card on the machine's disk, where syncs take real time, bound over
// the private card's media root.
class DiskCardTest : public ReliabilityTest {
 protected:
  void SetUp() override {
    ReliabilityTest::SetUp();
    char pattern[] = "/var/tmp/vorn-card-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    disk_ = pattern;
    ASSERT_EQ(mount(disk_.c_str(), kCard, nullptr, MS_BIND, nullptr), 0);
  }
  void TearDown() override {
    ReliabilityTest::TearDown();
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
    const std::string path = kRoot + "/kept-" + std::to_string(i);
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
    write_file(kRoot + "/" + name, "killed");
    Child child = start_process(command({kRoot + "/" + name, "k", "a", "g"}),
                                environment());
    if (watch.wait_created(child.pid)) {
      std::this_thread::sleep_for(
          std::chrono::duration<double, std::milli>(delay(random)));
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
  EXPECT_GE(mid_write, kKilled / 10) << "too few kills landed inside a write";

  EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
  const auto start = steady_clock::now();
  write_file(kRoot + "/after", "after");
  EXPECT_EQ(vorn({kRoot + "/after", "t", "a", "g"}).status, 0);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
  for (const auto &name : kept) {
    EXPECT_TRUE(read_entry(kRoot, kRoot, name)) << name << " was lost";
  }
}

// Every occurrence of every file system call that a run makes on the card
// (its database, its journal and its folder), counted from a traced clean
// run, is killed and then failed, for an add on a new card, an add on a card
// with entries, and a change.
TEST_F(ReliabilityTest, EveryKillAndFailurePointLeavesASoundCard) {
  if (emulated()) {
    GTEST_SKIP() << "under qemu-user, strace sees the emulator's own system "
                    "calls rather than the target's: the sweep runs natively";
  }
  const auto traced = [&](std::vector<std::string> options,
                          const std::vector<std::string> &args) {
    std::vector<std::string> argv = {"strace", "-f",          "-qq",
                                     "-P",     kDatabaseFile, "-P",
                                     kJournal, "-P",          kRoot};
    argv.insert(argv.end(), options.begin(), options.end());
    const auto run = command(args);
    argv.insert(argv.end(), run.begin(), run.end());
    return run_process(argv, environment());
  };
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
      names.push_back("e" + std::to_string(i));
      write_file(kRoot + "/" + names.back(), "x");
      set_mtime(kRoot + "/" + names.back(), 0);
      ASSERT_EQ(vorn({kRoot + "/" + names.back(), "t", "a", "g"}).status, 0);
    }
    const bool had_database = exists(kDatabaseFile);
    const std::string snapshot = had_database ? read_file(kDatabaseFile) : "";
    const auto restore = [&] {
      std::filesystem::remove(kJournal);
      std::filesystem::remove(kDatabaseFile);
      if (had_database) write_file(kDatabaseFile, snapshot);
    };
    const std::string target = kind.change ? names[0] : "new";
    write_file(kRoot + "/new", "x");
    set_mtime(kRoot + "/new", 0);
    write_file(kRoot + "/next", "x");
    const std::vector<std::string> args = {kRoot + "/" + target, "T", "A", "G"};
    // Beside the card, on the test's own /media.
    const char *log = "/media/sweep-trace";
    traced({"-o", log, "-e",
            "trace=openat,read,pread64,write,pwrite64,fsync,fdatasync,"
            "ftruncate,unlink,fcntl"},
           args);
    std::map<std::string, int> counts;
    std::istringstream lines(read_file(log));
    std::filesystem::remove(log);
    for (std::string pid, call; lines >> pid >> call;) {
      ++counts[call.substr(0, call.find('('))];
      lines.ignore(1 << 20, '\n');
    }
    std::vector<std::string> stored_on_failure;
    int kind_points = 0;
    for (const auto &[call, count] : counts) {
      std::vector<std::string> actions = {"signal=KILL", "error=EIO"};
      if (call.find("write") != std::string::npos)
        actions.push_back("error=ENOSPC");
      if (call == "openat") actions.push_back("error=EACCES");
      for (int n = 1; n <= count; ++n) {
        for (const auto &action : actions) {
          const std::string point =
              call + "#" + std::to_string(n) + " " + action;
          SCOPED_TRACE(std::string(kind.name) + ": " + point);
          restore();
          const auto run = traced(
              {"-o", "/dev/null", "-e", "trace=" + call, "-e",
               "inject=" + call + ":" + action + ":when=" + std::to_string(n)},
              args);
          ++kind_points;
          const bool killed = action == "signal=KILL";
          EXPECT_TRUE(!killed || run.signal == SIGKILL) << "not reached";
          // The next run comes first: it meets what this one left.
          EXPECT_EQ(vorn({kRoot + "/next", "t", "a", "g"}).status, 0)
              << run.out << run.err;
          EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
          for (const auto &name : names) {
            EXPECT_TRUE(name == target || read_entry(kRoot, kRoot, name) == old)
                << name << " was lost or changed";
          }
          const auto entry = read_entry(kRoot, kRoot, target);
          const bool is_new = entry == Entry{1, 0, "T", "A", "G"};
          const bool is_old = kind.change ? entry == old : !entry;
          EXPECT_TRUE(is_new || is_old) << "a torn entry";
          EXPECT_TRUE(run.status != 0 || is_new) << "success without values";
          if (!killed && run.status != 0 && is_new)
            stored_on_failure.push_back(point + " -> " +
                                        std::to_string(run.status));
        }
      }
    }
    std::printf("%s: %d points in %zu calls", kind.name, kind_points,
                counts.size());
    for (const auto &[call, count] : counts)
      std::printf(" %s:%d", call.c_str(), count);
    std::printf("; stored although the run failed:");
    for (const auto &point : stored_on_failure)
      std::printf(" [%s]", point.c_str());
    std::printf("\n");
    EXPECT_GT(kind_points, 0) << "the traced run hit no point";
    points += kind_points;
  }
  std::printf("%d points in all\n", points);
}

TEST_F(ReliabilityTest, AFullCardRefusesTheAddAndKeepsEverything) {
  ASSERT_EQ(mount("full-card", kCard, "tmpfs", 0, "size=256k"), 0);
  for (int i = 0; i < 5; ++i) {
    write_file(kRoot + "/" + std::to_string(i), "x");
    ASSERT_EQ(vorn({kRoot + "/" + std::to_string(i), "t", "a", "g"}).status, 0);
  }
  write_file(kRoot + "/new", "new");
  {
    const int fd = open((kRoot + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
  }
  const auto run = vorn({kRoot + "/new", "t", "a", "g"});
  EXPECT_EQ(run.status, ZEROVORA_ERROR_FULL);
  EXPECT_EQ(run.out, progress(kRoot + "/new", "t", "a", "g"));
  EXPECT_EQ(integrity_check(kDatabaseFile), "ok");
  EXPECT_EQ(count_entries(kDatabaseFile), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(read_entry(kRoot, kRoot, std::to_string(i)));
  }
  ASSERT_EQ(unlink((kRoot + "/filler").c_str()), 0);
  EXPECT_EQ(vorn({kRoot + "/new", "t", "a", "g"}).status, 0);
  EXPECT_EQ(count_entries(kDatabaseFile), 6);
}

TEST_F(ReliabilityTest, AReadOnlyCardRefusesWritesAndKeepsItsBytes) {
  write_file(kRoot + "/known", "x");
  write_file(kRoot + "/new", "x");
  // Without a database there is none to open, and none can be made.
  ASSERT_EQ(mount(nullptr, kCard, nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  EXPECT_EQ(vorn({kRoot + "/new", "t", "a", "g"}).status, 255);
  ASSERT_EQ(mount(nullptr, kCard, nullptr, MS_REMOUNT, nullptr), 0);
  EXPECT_FALSE(exists(kDatabaseFile));
  ASSERT_EQ(vorn({kRoot + "/known", "t", "a", "g"}).status, 0);
  const std::string before = read_file(kDatabaseFile);
  ASSERT_EQ(mount(nullptr, kCard, nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  auto run = vorn({kRoot + "/new", "t", "a", "g"});
  EXPECT_EQ(run.status, ZEROVORA_ERROR_READ_ONLY);
  EXPECT_EQ(run.out, progress(kRoot + "/new", "t", "a", "g"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(vorn({kRoot + "/known", "T", "A", "G"}).status,
            ZEROVORA_ERROR_READ_ONLY);
  EXPECT_TRUE(read_file(kDatabaseFile) == before) << "the file changed";
  EXPECT_EQ(read_entry(kRoot, kRoot, "known")->title, "t");
}

TEST_F(ReliabilityTest, DatabaseFilesThatAreNotOursAreRefusedAndKept) {
  std::mt19937 random(7);
  std::string noise(16384, '\0');
  for (auto &c : noise) c = static_cast<char>(random());
  write_file(kDatabaseFile, noise);
  expect_refused("random bytes");
  write_file(kDatabaseFile, std::string(1, '\0'));
  expect_refused("one zero byte");

  std::filesystem::remove(kDatabaseFile);
  for (int i = 0; i < 3; ++i) {
    write_file(kRoot + "/b" + std::to_string(i), "x");
    ASSERT_EQ(vorn({kRoot + "/b" + std::to_string(i), std::string(5000, 't'),
                    "a", "g"})
                  .status,
              0);
  }
  const std::string real = read_file(kDatabaseFile);
  write_file(kDatabaseFile, real.substr(0, real.size() - 1024));
  expect_refused("a truncated copy");

  write_file(kDatabaseFile, real);
  run_sql(kDatabaseFile, "PRAGMA user_version = 2");
  expect_refused("a newer schema version");

  for (const char *addition :
       {"CREATE TRIGGER wipe AFTER UPDATE ON files BEGIN DELETE FROM files; "
        "END",
        "CREATE INDEX by_tag ON files (tag)", "CREATE VIEW v AS SELECT 1",
        "CREATE TABLE extra (x)"}) {
    write_file(kDatabaseFile, real);
    run_sql(kDatabaseFile, addition);
    expect_refused(addition);
  }

  // Links in the database file's place, to a path off the card and to a
  // database of ours elsewhere: neither is followed.
  const std::string elsewhere = "/media/elsewhere.db";
  for (bool target_exists : {false, true}) {
    SCOPED_TRACE(target_exists ? "a link to our database elsewhere"
                               : "a dangling link");
    std::filesystem::remove(kDatabaseFile);
    std::filesystem::remove(elsewhere);
    if (target_exists) write_file(elsewhere, real);
    ASSERT_EQ(symlink(elsewhere.c_str(), kDatabaseFile), 0);
    const auto run = vorn({kRoot + "/f", "t", "a", "g"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, progress(kRoot + "/f", "t", "a", "g") + kOpenFailure);
    EXPECT_EQ(std::filesystem::read_symlink(kDatabaseFile), elsewhere);
    EXPECT_EQ(exists(elsewhere), target_exists);
    if (target_exists) {
      EXPECT_TRUE(read_file(elsewhere) == real);
    }
  }

  std::filesystem::remove(kDatabaseFile);
  run_sql(kDatabaseFile,
          "CREATE TABLE files (path TEXT); PRAGMA user_version = 1");
  expect_refused("a foreign schema");

  std::filesystem::remove(kDatabaseFile);
  ASSERT_EQ(mkdir(kDatabaseFile, 0755), 0);
  const auto run = vorn({kRoot + "/f", "t", "a", "g"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out, progress(kRoot + "/f", "t", "a", "g") + kOpenFailure);
  EXPECT_TRUE(std::filesystem::is_empty(kDatabaseFile));
}

TEST_F(ReliabilityTest, HostileValuesAreStoredAndPrintedVerbatim) {
  std::string control;
  for (int c = 1; c < 32; ++c) control += static_cast<char>(c);
  control += '\x7f';
  const std::vector<std::string> values = {
      "%s%n%x%p%%",
      "'single' \"double\" `back`",
      "x'); DROP TABLE files; --",
      "line one\nline two\r\n",
      "\xff\xfe invalid \xc3\x28 utf-8 \xed\xa0\x80",
      control,
      std::string(100 * 1024, 'L') + "end",
  };
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE("value " + std::to_string(i));
    const std::string path = kRoot + "/v" + std::to_string(i);
    write_file(path, "x");
    const auto run = vorn({path, values[i], values[i], values[i]});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progress(path, values[i], values[i], values[i]));
    const auto entry = read_entry(kRoot, kRoot, "v" + std::to_string(i));
    ASSERT_TRUE(entry);
    EXPECT_EQ(*entry,
              (Entry{1, entry->mtime, values[i], values[i], values[i]}));
  }
}

TEST_F(ReliabilityTest, EveryKindOfPathHasADefinedOutcome) {
  const std::string spaced = kRoot + "/with spaces\nand a newline";
  write_file(spaced, "12");
  ASSERT_EQ(mkdir((kRoot + "/folder").c_str(), 0755), 0);
  write_file(kRoot + "/target", "12345");
  ASSERT_EQ(symlink("target", (kRoot + "/link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (kRoot + "/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo((kRoot + "/fifo").c_str(), 0644), 0);
  // After January 2038, which a 32-bit time_t can't hold; set by the host's
  // touch, since a test built for such a target can't set it either.
  constexpr std::int64_t k2039 = 2191000000;
  write_file(kRoot + "/from-2039", "2039");
  ASSERT_EQ(run_process({"touch", "-d", "@" + std::to_string(k2039),
                         kRoot + "/from-2039"},
                        {"PATH=/usr/bin:/bin"})
                .status,
            0);

  struct Case {
    std::string path;
    int status;
    std::int64_t mtime = -1;  // -1: as the test's own stat gives it
  };
  for (const auto &c : std::vector<Case>{{spaced, 0},
                                         {kRoot + "/folder", 0},
                                         {kRoot + "/link", 0},
                                         {kRoot + "/fifo", 0},
                                         {"/dev/zero", 0},
                                         {kRoot + "/from-2039", 0, k2039},
                                         {kRoot + "/dangling", 66}}) {
    SCOPED_TRACE(c.path);
    const auto run = vorn({c.path, "t", "a", "g"});
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, c.status);
    struct stat st {};
    const bool readable = stat(c.path.c_str(), &st) == 0;
    const std::string directory = std::filesystem::path(c.path).parent_path();
    const std::string name = std::filesystem::path(c.path).filename();
    const auto entry = read_entry(kRoot, directory, name);
    if (readable) {
      ASSERT_TRUE(entry);
      EXPECT_EQ(entry->size, st.st_size);
      EXPECT_EQ(entry->mtime, c.mtime == -1 ? st.st_mtime : c.mtime);
    } else {
      EXPECT_FALSE(entry);
      EXPECT_EQ(run.err, "vorn: " + c.path + ": No such file or directory\n");
    }
  }
  EXPECT_EQ(read_entry(kRoot, kRoot, "link")->size, 5);
}

}  // namespace
}  // namespace vorn::testing
