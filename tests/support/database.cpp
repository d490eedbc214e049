#include "database.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "zerovora.h"

namespace vorn::testing {

std::optional<Entry> read_entry(const std::string &card,
                                const std::string &directory,
                                const std::string &name) {
  zerovora_global *global = zerovora_global_open(card.c_str(), 0);
  if (global == nullptr) return std::nullopt;
  metadata_table *wanted = metadata_table_new();
  for (const char *column :
       {ZEROVORA_COLUMN_SIZE, ZEROVORA_COLUMN_MTIME, ZEROVORA_COLUMN_TITLE,
        ZEROVORA_COLUMN_AUTHOR, ZEROVORA_COLUMN_TAG}) {
    metadata_table_add_column(wanted, column);
  }
  metadata_table *found = nullptr;
  const int result = zerovora_global_get_file(global, directory.c_str(),
                                              name.c_str(), wanted, &found);
  std::optional<Entry> entry;
  if (result == ZEROVORA_OK) {
    entry = Entry{std::stoll(metadata_table_get_text(found, 0)),
                  std::stoll(metadata_table_get_text(found, 1)),
                  metadata_table_get_text(found, 2),
                  metadata_table_get_text(found, 3),
                  metadata_table_get_text(found, 4)};
  }
  metadata_table_free_impl(found);
  metadata_table_free_impl(wanted);
  zerovora_close(global);
  return entry;
}

Entry stored_entry(const std::string &card, const std::string &directory,
                   const std::string &name) {
  return read_entry(card, directory, name)
      .value_or(Entry{-1, -1, "(no entry)", "(no entry)", "(no entry)"});
}

// The first column of the first row of `sql` on the file at `path`, as
// text, or what failed.
std::string first_value(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  sqlite3_stmt *stmt = nullptr;
  std::string value = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
      SQLITE_OK) {
    const bool row =
        sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW;
    value = row ? reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0))
                : sqlite3_errmsg(db);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

int count_entries(const std::string &path) {
  const std::string count = first_value(path, "SELECT count(*) FROM files");
  return std::all_of(count.begin(), count.end(), ::isdigit) && !count.empty()
             ? std::stoi(count)
             : -1;
}

std::string integrity_check(const std::string &path) {
  return first_value(path, "PRAGMA integrity_check");
}

void run_sql(const std::string &path, const std::string &sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  sqlite3_close(db);
}

void leave_hot_journal(const std::string &path, const std::string &sql) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3 *db = nullptr;
    // A page cache of one page makes SQLite write pages to the file before
    // the commit.
    const std::string script = "PRAGMA cache_size = 1; BEGIN; " + sql;
    const bool done = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                      sqlite3_exec(db, script.c_str(), nullptr, nullptr,
                                   nullptr) == SQLITE_OK;
    _exit(done ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

HeldLock::HeldLock(const std::string &path, const char *begin) {
  int ready[2];
  if (pipe(ready) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  child_ = fork();
  if (child_ == 0) {
    sqlite3 *db = nullptr;
    const bool locked =
        sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_exec(db, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (write(ready[1], locked ? "y" : "n", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char answer = 'n';
  EXPECT_EQ(read(ready[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'y') << begin << " failed in the child";
  close(ready[0]);
  close(ready[1]);
}

HeldLock::~HeldLock() {
  if (child_ <= 0) return;
  kill(child_, SIGKILL);
  waitpid(child_, nullptr, 0);
}

}  // namespace vorn::testing
