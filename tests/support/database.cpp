// SPDX-License-Identifier: MIT
#include "database.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "owners.h"
#include "sqlite_owners.h"
#include "zerovora.h"

namespace vorn::testing {

std::optional<Entry> read_entry(const std::string &card,
                                const std::string &directory,
                                const std::string &name) {
  const GlobalDatabase global(zerovora_global_open(card.c_str(), 0));
  const MetadataTable wanted(metadata_table_new());
  for (const char *column :
       {ZEROVORA_COLUMN_SIZE, ZEROVORA_COLUMN_MTIME, ZEROVORA_COLUMN_TITLE,
        ZEROVORA_COLUMN_AUTHOR, ZEROVORA_COLUMN_TAG}) {
    metadata_table_add_column(wanted.get(), column);
  }
  metadata_table *raw = nullptr;
  if (zerovora_global_get_file(global.get(), directory.c_str(), name.c_str(),
                               wanted.get(), &raw) != ZEROVORA_OK ||
      raw == nullptr) {
    return std::nullopt;
  }
  const MetadataTable found(raw);
  const auto text = [&](int i) { return metadata_table_get_text(raw, i); };
  return Entry{std::stoll(text(0)), std::stoll(text(1)), text(2), text(3),
               text(4)};
}

Entry stored_entry(const std::string &card, const std::string &directory,
                   const std::string &name) {
  return read_entry(card, directory, name)
      .value_or(Entry{-1, -1, "(no entry)", "(no entry)", "(no entry)"});
}

std::string first_value(const std::string &path, const char *sql) {
  sqlite3 *raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  const zerovora::Database db(raw);
  if (rc != SQLITE_OK) return "cannot open";
  zerovora::Statement stmt;
  if (zerovora::prepare(db.get(), sql, stmt) != SQLITE_OK ||
      sqlite3_step(stmt.get()) != SQLITE_ROW) {
    return sqlite3_errmsg(db.get());
  }
  return reinterpret_cast<const char *>(sqlite3_column_text(stmt.get(), 0));
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

void end_without_closing(const std::string &path, const std::string &sql) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3 *db = nullptr;
    const bool done =
        sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    _exit(done ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void leave_hot_journal(const std::string &path, const std::string &sql) {
  // A page cache of one page makes SQLite write pages to the file before
  // the commit.
  end_without_closing(path, "PRAGMA cache_size = 1; BEGIN; " + sql);
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
