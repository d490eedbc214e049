// SPDX-License-Identifier: MIT
// set_file_metadata against the stand-in library, on a private card mounted
// at the real media root.
#include "set_file_metadata.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "database.h"
#include "files.h"
#include "private_card.h"
#include "zerovora.h"

namespace vorn::testing {
namespace {

class RegistrationTest : public PrivateCardTest {
 protected:
  // Runs set_file_metadata, keeping what it wrote to each stream.
  int run(const std::string &path, const std::string &title,
          const std::string &author, const std::string &tag) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int result = set_file_metadata(path.c_str(), title.c_str(),
                                         author.c_str(), tag.c_str());
    out_ = ::testing::internal::GetCapturedStdout();
    err_ = ::testing::internal::GetCapturedStderr();
    return result;
  }

  // Makes a file on the card with `bytes` and a modification time.
  std::string make_file(const std::string &name, const std::string &bytes,
                        time_t mtime) {
    const std::string path = kCard + "/" + name;
    write_file(path, bytes);
    set_mtime(path, mtime);
    return path;
  }

  std::string out_;
  std::string err_;
};

TEST_F(RegistrationTest, AddsANewFileWithItsSizeAndTime) {
  const std::string path = make_file("book.epub", "12345", 1000000000);
  EXPECT_EQ(run(path, "Title", "Author", "tag"), 0);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_, "");
  EXPECT_EQ(read_entry(kCard, kCard, "book.epub"),
            (Entry{5, 1000000000, "Title", "Author", "tag"}));
}

TEST_F(RegistrationTest, AKnownFileKeepsItsSizeAndTimeAndTakesNewValues) {
  const std::string path = make_file("book.epub", "12345", 1000000000);
  ASSERT_EQ(run(path, "Title", "Author", "tag"), 0);
  make_file("book.epub", "a longer body", 1200000000);
  EXPECT_EQ(run(path, "", "Other", ""), 0);
  EXPECT_EQ(out_ + err_, "");
  EXPECT_EQ(read_entry(kCard, kCard, "book.epub"),
            (Entry{5, 1000000000, "", "Other", ""}));
  EXPECT_EQ(count_entries(kDatabaseFile), 1);
}

TEST_F(RegistrationTest, WithoutTheMediaRootNothingHappens) {
  take_card_out();
  ASSERT_EQ(rmdir(kCard.c_str()), 0);
  EXPECT_EQ(run("/media/x", "t", "a", "g"), kResultDatabaseUnavailable);
  EXPECT_EQ(out_, "failed to open globaldb.");
  EXPECT_EQ(err_, "vorn: " + kCard + ": no card is mounted there\n");
  EXPECT_FALSE(exists(kCard));
}

TEST_F(RegistrationTest, ADatabaseFileThatIsNotOursIsRefusedUntouched) {
  const std::string path = make_file("book.epub", "1", 1);
  const std::string junk =
      "not a database at all, but longer than a header "
      "so that it might be read as one............";
  write_file(kDatabaseFile, junk);
  EXPECT_EQ(run(path, "t", "a", "g"), kResultDatabaseUnavailable);
  EXPECT_EQ(out_, "failed to open globaldb.");
  // The library's line alone: a card is in.
  EXPECT_EQ(err_, "zerovora: " + kDatabaseFile +
                      ": not a database of this library: too short for one "
                      "(91 bytes)\n");
  EXPECT_TRUE(read_file(kDatabaseFile) == junk) << "the file changed";
}

// The line names the file with its control bytes escaped: a name from a
// card must not reach a terminal as it is.
TEST_F(RegistrationTest, AFileWhoseStatusCantBeReadIsNotAdded) {
  EXPECT_EQ(run(kCard + "/missing\x1b]0;x\x07\x7f\\", "t", "a", "g"),
            kResultFileUnreadable);
  EXPECT_EQ(out_, "");
  EXPECT_EQ(err_,
            "vorn: " + kCard +
                "/missing\\x1b]0;x\\x07\\x7f\\x5c: No such file or directory; "
                "the lookup found no entry for it, so none was added\n");
  EXPECT_EQ(count_entries(kDatabaseFile), 0);

  // Every byte escaped, in a path as long as one argument may be (128 KiB
  // with its NUL), so that each takes the most room in the line.
  const std::string escaped_only(128 * 1024 - 1, '\x01');
  EXPECT_EQ(run(escaped_only, "t", "a", "g"), kResultFileUnreadable);
  std::string printed;
  for (std::size_t i = 0; i < escaped_only.size(); ++i) printed += "\\x01";
  EXPECT_EQ(err_, "vorn: " + printed +
                      ": File name too long; the lookup found no entry for "
                      "it, so none was added\n");
}

TEST_F(RegistrationTest, AKnownFileIsChangedEvenWhenItIsGone) {
  const std::string path = make_file("gone", "123", 7);
  ASSERT_EQ(run(path, "t", "a", "g"), 0);
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(run(path, "T", "A", "G"), 0);
  EXPECT_EQ(err_, "");
  EXPECT_EQ(read_entry(kCard, kCard, "gone"), (Entry{3, 7, "T", "A", "G"}));
}

TEST_F(RegistrationTest, ABareNameIsEnteredUnderDot) {
  make_file("bare.txt", "1234", 42);
  ASSERT_EQ(chdir(kCard.c_str()), 0);
  EXPECT_EQ(run("bare.txt", "t", "a", "g"), 0);
  EXPECT_EQ(read_entry(kCard, ".", "bare.txt"), (Entry{4, 42, "t", "a", "g"}));
}

TEST_F(RegistrationTest, AFileDirectlyUnderTheRootHasTheRootAsDirectory) {
  // /media is the private card's own mount, so its time is ours to set.
  set_mtime("/media", 123456);
  EXPECT_EQ(run("/media", "t", "a", "g"), 0);
  const auto entry = read_entry(kCard, "/", "media");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->mtime, 123456);
}

TEST_F(RegistrationTest, AbsoluteAndRelativeNamesGiveTwoEntries) {
  make_file("a.txt", "1", 1);
  // The card's folder named from its parent.
  const std::string parent = std::filesystem::path(kCard).parent_path();
  const std::string folder = std::filesystem::path(kCard).filename();
  ASSERT_EQ(chdir(parent.c_str()), 0);
  EXPECT_EQ(run(folder + "/a.txt", "relative", "a", "g"), 0);
  EXPECT_EQ(run(kCard + "/a.txt", "absolute", "a", "g"), 0);
  EXPECT_EQ(stored_entry(kCard, folder, "a.txt").title, "relative");
  EXPECT_EQ(stored_entry(kCard, kCard, "a.txt").title, "absolute");
  EXPECT_EQ(count_entries(kDatabaseFile), 2);
}

TEST_F(RegistrationTest, AFifoIsNeverOpened) {
  const std::string path = kCard + "/pipe";
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  set_mtime(path, 99);
  // Opening the FIFO would block here for good.
  EXPECT_EQ(run(path, "t", "a", "g"), 0);
  EXPECT_EQ(read_entry(kCard, kCard, "pipe"), (Entry{0, 99, "t", "a", "g"}));
}

TEST_F(RegistrationTest, ValuesAreStoredVerbatim) {
  const std::string path = make_file("odd 'name'\n\xff.txt", "", 5);
  const std::string title = "%s%n%x \"quoted\" 'single'";
  const std::string author = "x'); DROP TABLE files; --";
  const std::string tag = "line\nbreak \xc3\xa9 \xff\xfe";
  EXPECT_EQ(run(path, title, author, tag), 0);
  EXPECT_EQ(read_entry(kCard, kCard, "odd 'name'\n\xff.txt"),
            (Entry{0, 5, title, author, tag}));
}

TEST_F(RegistrationTest, FailuresOfTheAddAndTheChangeAreTheResult) {
  const std::string known = make_file("known", "1", 1);
  const std::string fresh = make_file("fresh", "1", 1);
  ASSERT_EQ(run(known, "t", "a", "g"), 0);
  const std::string before = read_file(kDatabaseFile);
  ASSERT_EQ(
      mount(nullptr, kCard.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr),
      0);
  const std::string read_only =
      "zerovora: " + kDatabaseFile + ": the card or the file is read-only\n";
  EXPECT_EQ(run(fresh, "t", "a", "g"), ZEROVORA_ERROR_READ_ONLY);
  EXPECT_EQ(err_, read_only);
  EXPECT_EQ(run(known, "T", "A", "G"), ZEROVORA_ERROR_READ_ONLY);
  EXPECT_EQ(err_, read_only);
  EXPECT_TRUE(read_file(kDatabaseFile) == before) << "the file changed";
  EXPECT_EQ(read_entry(kCard, kCard, "known"), (Entry{1, 1, "t", "a", "g"}));
}

}  // namespace
}  // namespace vorn::testing
