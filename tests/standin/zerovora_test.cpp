// The stand-in library through its C interface: opening, refusing files that
// are not its own, lookups, adds and changes, failure codes, and several
// processes at once.
#include "zerovora.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "entries.h"
#include "files.h"
#include "private_card.h"
#include "schema.h"

namespace vorn::testing {
namespace {

constexpr const char *kName = ".zerovora-global.db";

metadata_table *table_of(const std::vector<const char *> &names) {
  metadata_table *table = metadata_table_new();
  for (const char *name : names) metadata_table_add_column(table, name);
  return table;
}

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zerovora-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ + "/" + kName;
    // The library opens a database only on a mounted card.
    mount_over_itself(dir_);
  }
  void TearDown() override {
    EXPECT_EQ(umount2(dir_.c_str(), MNT_DETACH), 0);
    std::filesystem::remove_all(dir_);
  }

  zerovora_global *open() { return zerovora_global_open(dir_.c_str(), 0); }

  // Adds ("/d", "f") with fixed values.
  void add_sample() {
    zerovora_global *global = open();
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(zerovora_global_add_file(global, "/d", "f", 12, 34, "Title",
                                       "Author", "tag"),
              ZEROVORA_OK);
    zerovora_close(global);
  }

  // Expects open() to refuse the database file and leave it byte for byte,
  // and its journal too when there is one.
  void expect_refused() {
    const std::string journal = file_ + "-journal";
    const bool journal_file = std::filesystem::is_regular_file(journal);
    const std::string before = read_file(file_);
    const std::string journal_before = journal_file ? read_file(journal) : "";
    EXPECT_EQ(open(), nullptr);
    EXPECT_TRUE(read_file(file_) == before) << "the file changed";
    if (journal_file) {
      EXPECT_TRUE(read_file(journal) == journal_before)
          << "the journal changed";
    }
  }

  std::string dir_;
  std::string file_;
};

TEST_F(StandInTest, CreatesItsFileOnFirstOpenAndKeepsEntries) {
  ASSERT_FALSE(exists(file_));
  add_sample();
  ASSERT_TRUE(exists(file_));
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Title", "Author", "tag"}));
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, OpenRefusesWhatIsNotADatabaseDirectory) {
  EXPECT_EQ(zerovora_global_open(nullptr, 0), nullptr);
  EXPECT_EQ(zerovora_global_open(dir_.c_str(), 1), nullptr);
  const std::string missing = dir_ + "/missing";
  EXPECT_EQ(zerovora_global_open(missing.c_str(), 0), nullptr);
  EXPECT_FALSE(exists(missing));
  write_file(dir_ + "/plain", "x");
  EXPECT_EQ(zerovora_global_open((dir_ + "/plain").c_str(), 0), nullptr);
  // A folder where no card is mounted.
  const std::string unmounted = dir_ + "/unmounted";
  ASSERT_EQ(mkdir(unmounted.c_str(), 0755), 0);
  EXPECT_EQ(zerovora_global_open(unmounted.c_str(), 0), nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(unmounted));
  ASSERT_EQ(mkdir(file_.c_str(), 0755), 0);
  EXPECT_EQ(open(), nullptr);
}

TEST_F(StandInTest, OpenRefusesFilesThatAreNotItsOwnAndLeavesThemAlone) {
  std::string noise(8192, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = char(i * 7 + 3);
  write_file(file_, noise);
  expect_refused();

  // SQLite reads a file this short as an empty database.
  write_file(file_, std::string(1, '\0'));
  expect_refused();

  std::filesystem::remove(file_);
  run_sql(file_, "CREATE TABLE other (x); INSERT INTO other VALUES (1);");
  expect_refused();

  std::filesystem::remove(file_);
  add_sample();
  const std::string ours = read_file(file_);
  run_sql(file_, "PRAGMA user_version = 2;");
  expect_refused();

  // Our marks and schema in UTF-16 text, or with a write-ahead log.
  for (const char *setting :
       {"PRAGMA encoding = 'UTF-16le';", "PRAGMA journal_mode = WAL;"}) {
    SCOPED_TRACE(setting);
    std::filesystem::remove(file_);
    run_sql(file_, std::string(setting) + zerovora::create_schema_sql());
    expect_refused();
  }

  // A writer killed mid-transaction left a journal beside a foreign file:
  // both stay as they are, although SQLite would roll the journal back.
  std::filesystem::remove(file_);
  std::filesystem::remove(file_ + "-journal");
  run_sql(file_,
          "CREATE TABLE other (x); WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL "
          "SELECT i + 1 FROM c WHERE i < 2000) INSERT INTO other SELECT "
          "randomblob(100) FROM c;");
  leave_hot_journal(file_, "DELETE FROM other");
  ASSERT_TRUE(exists(file_ + "-journal"));
  expect_refused();
  std::filesystem::remove(file_ + "-journal");

  // A second link to our file, and a journal that is a link or a folder.
  write_file(file_, ours);
  const std::string other_name = dir_ + "/other-name";
  ASSERT_EQ(link(file_.c_str(), other_name.c_str()), 0);
  expect_refused();
  std::filesystem::remove(other_name);
  ASSERT_EQ(symlink(other_name.c_str(), (file_ + "-journal").c_str()), 0);
  expect_refused();
  EXPECT_FALSE(exists(other_name));
  std::filesystem::remove(file_ + "-journal");
  ASSERT_EQ(mkdir((file_ + "-journal").c_str(), 0755), 0);
  expect_refused();
}

TEST_F(StandInTest, EntriesBeyondTheLimitsAreFailuresAndStayAsTheyAre) {
  add_sample();
  zerovora_global *global = open();
  ASSERT_NE(global, nullptr);
  const std::string too_long(ZEROVORA_MAX_ENTRY_LENGTH, 'x');
  EXPECT_EQ(zerovora_global_add_file(global, "/e", "f", 1, 2, too_long.c_str(),
                                     "", ""),
            ZEROVORA_ERROR_ARGUMENT);
  zerovora_close(global);
  // The library bounds SQLite's heap in its process once it opens; the
  // entries beyond the limits are made without that bound.
  sqlite3_hard_heap_limit64(0);
  run_sql(file_,
          "INSERT INTO files VALUES ('/d', 'big value', 1, 2, 't', 'a', "
          "cast(zeroblob(" +
              std::to_string(ZEROVORA_MAX_ENTRY_LENGTH + 1) +
              ") AS TEXT));"
              "INSERT INTO files VALUES ('/d', 'key' || cast(zeroblob(" +
              std::to_string(32 << 20) + ") AS TEXT), 1, 2, 't', 'a', 'g')");
  const std::string before = read_file(file_);
  global = open();
  ASSERT_NE(global, nullptr);
  metadata_table *wanted = table_of({"tag"});
  metadata_table *found = nullptr;
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "big value", wanted, &found),
            ZEROVORA_ERROR_CORRUPT);
  EXPECT_EQ(found, nullptr);
  // Looking up a key beside the oversized one compares the two.
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "key", wanted, &found),
            ZEROVORA_ERROR_NO_MEMORY);
  metadata_table_free_impl(wanted);
  zerovora_close(global);
  EXPECT_TRUE(read_file(file_) == before) << "the file changed";
}

TEST_F(StandInTest, AnEmptyFileBecomesADatabase) {
  write_file(file_, "");
  add_sample();
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, OpenRefusesATruncatedCopy) {
  {
    zerovora_global *global = open();
    const std::string long_title(20000, 't');
    for (int i = 0; i < 20; ++i) {
      zerovora_global_add_file(global, "/d", std::to_string(i).c_str(), 1, 2,
                               long_title.c_str(), "a", "t");
    }
    zerovora_close(global);
  }
  const std::string whole = read_file(file_);
  write_file(file_, whole.substr(0, whole.size() / 2));
  expect_refused();
  // Cut inside the last page.
  write_file(file_, whole.substr(0, whole.size() - 1024));
  expect_refused();
}

TEST_F(StandInTest, GetHandsBackTheRequestedColumnsInOrder) {
  add_sample();
  zerovora_global *global = open();
  metadata_table *wanted =
      table_of({"tag", "mtime", "title", "size", "author"});
  metadata_table *found = nullptr;
  ASSERT_EQ(zerovora_global_get_file(global, "/d", "f", wanted, &found),
            ZEROVORA_OK);
  ASSERT_EQ(metadata_table_get_column_count(found), 5);
  const char *expected[][2] = {{"tag", "tag"},
                               {"mtime", "34"},
                               {"title", "Title"},
                               {"size", "12"},
                               {"author", "Author"}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_STREQ(metadata_table_get_column_name(found, i), expected[i][0]);
    EXPECT_STREQ(metadata_table_get_text(found, i), expected[i][1]);
  }
  metadata_table_free_impl(found);

  EXPECT_EQ(zerovora_global_get_file(global, "/d", "f", wanted, nullptr),
            ZEROVORA_OK);
  metadata_table *untouched = wanted;
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "g", wanted, &untouched),
            ZEROVORA_ERROR_NOT_FOUND);
  EXPECT_EQ(untouched, wanted);
  EXPECT_EQ(zerovora_global_get_file(global, "/d/", "f", wanted, nullptr),
            ZEROVORA_ERROR_NOT_FOUND);
  metadata_table_free_impl(wanted);
  zerovora_close(global);
}

TEST_F(StandInTest, AddRefusesAnExistingEntryAndKeepsIt) {
  add_sample();
  zerovora_global *global = open();
  EXPECT_EQ(
      zerovora_global_add_file(global, "/d", "f", 99, 99, "New", "New", "new"),
      ZEROVORA_ERROR_EXISTS);
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Title", "Author", "tag"}));
}

TEST_F(StandInTest, ChangeSetsOnlyTheNamedColumns) {
  add_sample();
  zerovora_global *global = open();
  metadata_table *values = table_of({"title"});
  metadata_table_set_text(values, 0, "Other");
  EXPECT_EQ(zerovora_global_change_file(global, "/d", "f", values),
            ZEROVORA_OK);
  EXPECT_EQ(zerovora_global_change_file(global, "/d", "g", values),
            ZEROVORA_ERROR_NOT_FOUND);
  metadata_table_free_impl(values);
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Other", "Author", "tag"}));
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, ChangeRefusesBadTablesAndChangesNothing) {
  add_sample();
  zerovora_global *global = open();
  struct Case {
    std::vector<const char *> names;
    bool fill;
  };
  const Case cases[] = {
      {{}, true},                  // empty
      {{"title", "bogus"}, true},  // unknown name
      {{"title; DROP TABLE files"}, true},
      {{"title", "size"}, true},  // read-only attribute
      {{"tag", "tag"}, true},     // twice
      {{"tag", "title"}, false},  // without values
  };
  for (const auto &c : cases) {
    metadata_table *values = table_of(c.names);
    for (int i = 0; c.fill && i < int(c.names.size()); ++i) {
      metadata_table_set_text(values, i, "changed");
    }
    EXPECT_EQ(zerovora_global_change_file(global, "/d", "f", values),
              ZEROVORA_ERROR_ARGUMENT)
        << (c.names.empty() ? "(empty)" : c.names.back());
    metadata_table_free_impl(values);
  }
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Title", "Author", "tag"}));
}

TEST_F(StandInTest, NullArgumentsAndBadPositionsAreArgumentFailures) {
  add_sample();
  zerovora_global *global = open();
  metadata_table *table = table_of({"tag"});
  metadata_table *out = nullptr;
  EXPECT_EQ(zerovora_global_get_file(nullptr, "/d", "f", table, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_get_file(global, nullptr, "f", table, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_get_file(global, "/d", nullptr, table, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "f", nullptr, &out),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(out, nullptr);
  metadata_table *empty = metadata_table_new();
  EXPECT_EQ(zerovora_global_get_file(global, "/d", "f", empty, &out),
            ZEROVORA_ERROR_ARGUMENT);
  metadata_table_free_impl(empty);
  const char *add_args[6] = {"/d", "g", "t", "a", "g", nullptr};
  for (int missing = 0; missing < 5; ++missing) {
    const char *a[5];
    for (int i = 0; i < 5; ++i) a[i] = i == missing ? nullptr : add_args[i];
    EXPECT_EQ(
        zerovora_global_add_file(global, a[0], a[1], 1, 2, a[2], a[3], a[4]),
        ZEROVORA_ERROR_ARGUMENT);
  }
  EXPECT_EQ(zerovora_global_add_file(nullptr, "/d", "g", 1, 2, "t", "a", "g"),
            ZEROVORA_ERROR_ARGUMENT);
  metadata_table_set_text(table, 0, "x");
  EXPECT_EQ(zerovora_global_change_file(nullptr, "/d", "f", table),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_change_file(global, nullptr, "f", table),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_change_file(global, "/d", nullptr, table),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_global_change_file(global, "/d", "f", nullptr),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(zerovora_close(nullptr), ZEROVORA_ERROR_ARGUMENT);

  EXPECT_EQ(metadata_table_add_column(nullptr, "tag"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_add_column(table, nullptr), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(nullptr, 0, "x"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(table, 0, nullptr),
            ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(table, -1, "x"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_set_text(table, 1, "x"), ZEROVORA_ERROR_ARGUMENT);
  EXPECT_EQ(metadata_table_get_column_count(nullptr), -1);
  EXPECT_EQ(metadata_table_get_column_name(table, 1), nullptr);
  EXPECT_EQ(metadata_table_get_text(table, -1), nullptr);
  EXPECT_EQ(metadata_table_get_text(nullptr, 0), nullptr);
  metadata_table_free_impl(nullptr);
  metadata_table_free_impl(table);
  zerovora_close(global);
  EXPECT_EQ(count_entries(file_), 1);
  EXPECT_EQ(read_entry(dir_, "/d", "f"),
            (Entry{12, 34, "Title", "Author", "tag"}));
}

TEST_F(StandInTest, TableCopiesItsTexts) {
  metadata_table *table = table_of({"title"});
  EXPECT_EQ(metadata_table_get_text(table, 0), nullptr);
  std::string text = "before";
  ASSERT_EQ(metadata_table_set_text(table, 0, text.c_str()), ZEROVORA_OK);
  text.replace(0, text.size(), "AFTER!");
  EXPECT_STREQ(metadata_table_get_text(table, 0), "before");
  metadata_table_free_impl(table);
}

TEST_F(StandInTest, StoresBytesVerbatim) {
  const std::string hostile =
      "%s%n%x 'q' \"dq\" ); DROP TABLE files; --\n\t\xff\xfe\xc3\xa9";
  zerovora_global *global = open();
  ASSERT_EQ(
      zerovora_global_add_file(global, hostile.c_str(), hostile.c_str(), -5, -6,
                               hostile.c_str(), "", hostile.c_str()),
      ZEROVORA_OK);
  zerovora_close(global);
  EXPECT_EQ(read_entry(dir_, hostile, hostile),
            (Entry{-5, -6, hostile, "", hostile}));
}

// Forks `count` processes that each run `work(i)` and exit with its result;
// returns the exit statuses.
template <typename Work>
std::vector<int> in_processes(int count, Work work) {
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid == 0) _exit(work(i));
    children.push_back(pid);
  }
  std::vector<int> statuses;
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return statuses;
}

TEST_F(StandInTest, ProcessesCreatingTheDatabaseAtOnceAllSucceed) {
  constexpr int kProcesses = 16;
  const auto statuses = in_processes(kProcesses, [this](int i) {
    zerovora_global *global = open();
    if (global == nullptr) return 100;
    const std::string name = std::to_string(i);
    const int result = zerovora_global_add_file(global, "/d", name.c_str(), i,
                                                i, name.c_str(), "a", "t");
    zerovora_close(global);
    return result;
  });
  for (int i = 0; i < kProcesses; ++i) {
    EXPECT_EQ(statuses[i], 0) << "process " << i;
    const auto entry = read_entry(dir_, "/d", std::to_string(i));
    ASSERT_TRUE(entry) << "entry " << i;
    EXPECT_EQ(entry->title, std::to_string(i));
  }
  EXPECT_EQ(count_entries(file_), kProcesses);
}

TEST_F(StandInTest, ProcessesAddingOneEntryAtOnceLeaveOneWinner) {
  add_sample();
  constexpr int kProcesses = 8;
  const auto statuses = in_processes(kProcesses, [this](int i) {
    zerovora_global *global = open();
    if (global == nullptr) return 100;
    const std::string title = std::to_string(i);
    const int result = zerovora_global_add_file(global, "/d", "same", 1, 2,
                                                title.c_str(), "a", "t");
    zerovora_close(global);
    return result;
  });
  int winner = -1;
  for (int i = 0; i < kProcesses; ++i) {
    if (statuses[i] == 0) {
      EXPECT_EQ(winner, -1) << "two processes added the entry";
      winner = i;
    } else {
      EXPECT_EQ(statuses[i], ZEROVORA_ERROR_EXISTS) << "process " << i;
    }
  }
  ASSERT_NE(winner, -1);
  EXPECT_EQ(read_entry(dir_, "/d", "same")->title, std::to_string(winner));
  EXPECT_EQ(count_entries(file_), 2);
}

}  // namespace
}  // namespace vorn::testing
