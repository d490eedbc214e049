// SPDX-License-Identifier: MIT
// The shared fixture of the stand-in's tests: the library on a private
// card (see private_card.h), with helpers for its tables and its file.
#ifndef VORN_TESTS_STANDIN_FIXTURE_H
#define VORN_TESTS_STANDIN_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "database.h"
#include "files.h"
#include "oracles.h"
#include "owners.h"
#include "private_card.h"
#include "zerovora.h"

namespace vorn::testing {

// The entry that add_sample() adds, as read_entry reads it.
inline const Entry kSample{12, 34, "Title", "Author", "tag"};

// A new table with columns of these names and no values.
inline MetadataTable table_of(const std::vector<const char *> &names) {
  MetadataTable table(metadata_table_new());
  for (const char *name : names) metadata_table_add_column(table.get(), name);
  return table;
}

// Forks `count` processes that each run `work(i)` and exit with its result;
// returns how each ended: its exit status and what it wrote on standard
// error.
template <typename Work>
std::vector<ProcessResult> in_processes(int count, Work work) {
  std::vector<pid_t> children;
  std::vector<int> errors;
  for (int i = 0; i < count; ++i) {
    int ends[2];
    if (pipe(ends) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      ends[0] = ends[1] = -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(ends[1], STDERR_FILENO);
      _exit(work(i));
    }
    close(ends[1]);
    children.push_back(pid);
    errors.push_back(ends[0]);
  }
  std::vector<ProcessResult> results(children.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    char buffer[4096];
    for (ssize_t got; (got = read(errors[i], buffer, sizeof buffer)) > 0;) {
      results[i].err.append(buffer, got);
    }
    close(errors[i]);
    int status = 0;
    waitpid(children[i], &status, 0);
    results[i].status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return results;
}

// The card's database, opened as the stand-in's tests open it. On closing,
// it judges what the calls on it did to the card: only what a run of vorn
// that ended with 0, or with 255 when the open failed, may change (see
// changes_not_allowed). Only the process `judge` reads the card: a forked
// one's siblings change it meanwhile.
class CheckedGlobal {
 public:
  explicit CheckedGlobal(pid_t judge) : judges_(getpid() == judge) {
    if (judges_) before_ = tree_of(kMedia);
    global_.reset(zerovora_global_open(kCard.c_str(), 0));
  }
  ~CheckedGlobal() {
    ProcessResult run;
    run.status = global_ ? 0 : 255;
    global_.reset();
    if (!judges_) return;
    EXPECT_EQ(changes_not_allowed(before_, tree_of(kMedia), run), "")
        << (run.status == 0 ? "after calls on an open database"
                            : "after a failed open");
  }
  CheckedGlobal(const CheckedGlobal &) = delete;
  CheckedGlobal &operator=(const CheckedGlobal &) = delete;

  zerovora_global *get() const { return global_.get(); }
  explicit operator bool() const { return global_ != nullptr; }

 private:
  const bool judges_;
  Tree before_;
  GlobalDatabase global_;
};

class StandInTest : public PrivateCardTest {
 protected:
  // The card's database, opened; empty when the library refuses it.
  CheckedGlobal open() const { return CheckedGlobal(test_process_); }

  // Adds ("/d", "f") with the values of kSample.
  void add_sample() const {
    EXPECT_EQ(
        zerovora_global_add_file(open().get(), "/d", "f", kSample.size,
                                 kSample.mtime, kSample.title.c_str(),
                                 kSample.author.c_str(), kSample.tag.c_str()),
        ZEROVORA_OK);
  }

  // Expects open() to refuse the database file, to say why in one line on
  // standard error ("zerovora: " and a text that holds `reason`), and to
  // leave every file on the card and off it as it was.
  void expect_refused(const std::string &reason) const {
    const Tree before = tree_of(kMedia);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(open());
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("zerovora: ", 0), 0u) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
    EXPECT_NE(said.find(reason), std::string::npos) << said;
    EXPECT_EQ(
        std::count_if(said.begin(), said.end(),
                      [](unsigned char c) { return c < 0x20 || c == 0x7f; }),
        1)
        << "a control byte besides the line's end: " << said;
    EXPECT_EQ(changes(before, tree_of(kMedia)), "");
  }

  // Expects `call` to return `code` and to write exactly `line` on standard
  // error (nothing, when it is empty: a lookup tells nothing).
  template <typename Call>
  void expect_failure(Call call, int code, const std::string &line) const {
    ::testing::internal::CaptureStderr();
    const int result = call();
    EXPECT_EQ(result, code);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), line);
  }

  // The line of a call given an invalid argument.
  static std::string invalid(const std::string &function) {
    return "zerovora: " + function +
           ": an invalid argument (a null pointer, an unknown flag or column, "
           "a position out of range)\n";
  }

  const std::string file_ = kDatabaseFile;
  const pid_t test_process_ = getpid();
};

}  // namespace vorn::testing

#endif
