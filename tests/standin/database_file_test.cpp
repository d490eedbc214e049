// SPDX-License-Identifier: MIT
// The database file: created on first open, and refused and left as it is
// when it is not one that the library wrote.
#include "database_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "file_judgement.h"
#include "files.h"
#include "schema.h"
#include "sqlite_owners.h"
#include "standin_fixture.h"

namespace vorn::testing {
namespace {

// The database file as the lines that concern it name it.
const std::string kFile = "zerovora: " + kDatabaseFile;

// A rollback journal as SQLite lays it out: a header giving the database's
// size before the transaction, in pages of `page_size` bytes (0: the
// database file's own, as SQLite's oldest versions wrote it), and filling
// one sector of `sector_size` bytes (at least 32, at most 65 536); the
// record of `first_page`, the original of page 1, when it is not empty;
// then, when `super_journal` is not empty, the record that names it. The
// header counts the records that follow it, or `records` when given.
std::string journal_bytes(std::uint32_t pages, const std::string &super_journal,
                          const std::string &first_page = "",
                          std::uint32_t page_size = 4096,
                          std::optional<std::uint32_t> records = {},
                          std::uint32_t sector_size = 512) {
  const std::string magic = "\xd9\xd5\x05\xf9\x20\xa1\x63\xd7";
  const auto word = [](std::uint32_t value) {
    return std::string{char(value >> 24), char(value >> 16), char(value >> 8),
                       char(value)};
  };
  const auto checksum = [](const std::string &bytes, std::size_t step,
                           std::size_t from) {
    std::uint32_t sum = 0;
    for (std::size_t i = from; i < bytes.size(); i += step) {
      sum += static_cast<std::uint8_t>(bytes[i]);
    }
    return sum;
  };
  std::string journal =
      magic + word(records.value_or(first_page.empty() ? 0 : 1)) + word(0) +
      word(pages) + word(sector_size) + word(page_size);
  journal.resize(std::clamp<std::uint32_t>(sector_size, 32, 65536), '\0');
  if (!first_page.empty()) {
    // SQLite sums every 200th byte from the end, the first byte left out.
    journal += word(1) + first_page + word(checksum(first_page, 200, 96));
  }
  if (!super_journal.empty()) {
    journal += word(1) + super_journal + word(super_journal.size()) +
               word(checksum(super_journal, 1, 0)) + magic;
  }
  return journal;
}

TEST_F(StandInTest, CreatesItsFileOnFirstOpenAndKeepsEntries) {
  ASSERT_FALSE(exists(file_));
  add_sample();
  ASSERT_TRUE(exists(file_));
  EXPECT_EQ(read_entry(kCard, "/d", "f"), kSample);
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, OpenRefusesFilesThatAreNotItsOwnAndLeavesThemAlone) {
  std::string noise(8192, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = char(i * 7 + 3);
  write_file(file_, noise);
  expect_refused("not an SQLite database");

  // SQLite reads a file this short as an empty database.
  write_file(file_, std::string(1, '\0'));
  expect_refused("too short");

  std::filesystem::remove(file_);
  run_sql(file_, "CREATE TABLE other (x); INSERT INTO other VALUES (1);");
  expect_refused("an SQLite database with none of this library's marks");

  std::filesystem::remove(file_);
  add_sample();
  const std::string ours = read_file(file_);
  run_sql(file_, "PRAGMA user_version = 2;");
  expect_refused(kFile +
                 ": not a database of this library: another schema "
                 "version (user version 2)");

  // Our file whose header gives a page size that SQLite takes for none:
  // 0, the largest value, and one that is not a power of two.
  for (const char *page_size : {"\0\0", "\xff\xff", "\x03\xe8"}) {
    std::string bytes = ours;
    bytes.replace(16, 2, page_size, 2);
    write_file(file_, bytes);
    expect_refused(kFile + ": damaged\n");
  }

  // Our file with anything added: nothing of it may run.
  for (const char *addition :
       {"CREATE TRIGGER wipe AFTER UPDATE ON files BEGIN DELETE FROM files; "
        "END",
        "CREATE INDEX by_tag ON files (tag)", "CREATE VIEW v AS SELECT 1",
        "CREATE TABLE extra (x)"}) {
    SCOPED_TRACE(addition);
    write_file(file_, ours);
    run_sql(file_, addition);
    expect_refused("another schema");
  }
  // The key's own index given a text of its own: SQLite can't read the
  // schema.
  write_file(file_, ours);
  run_sql(file_,
          "PRAGMA writable_schema = ON; UPDATE sqlite_schema SET sql = 'CREATE "
          "UNIQUE INDEX sqlite_autoindex_files_1 ON files (directory, name)' "
          "WHERE type = 'index'");
  expect_refused(kFile + ": damaged");

  // Links in the file's place, to a path off the card and to a database of
  // ours elsewhere: neither is followed, nothing is made or changed there.
  const std::string elsewhere = "/media/elsewhere.db";
  for (bool target_exists : {false, true}) {
    SCOPED_TRACE(target_exists ? "a link to ours elsewhere"
                               : "a dangling link");
    std::filesystem::remove(file_);
    if (target_exists) write_file(elsewhere, ours);
    ASSERT_EQ(symlink(elsewhere.c_str(), file_.c_str()), 0);
    expect_refused("a symbolic link in its place");
  }
  std::filesystem::remove(file_);

  // Our marks with another table of our table's name, and our schema with
  // another application id.
  for (const auto &[sql, reason] :
       std::vector<std::pair<std::string, std::string>>{
           {"PRAGMA application_id = " +
                std::to_string(zerovora::kApplicationId) +
                "; CREATE TABLE files (directory, name, PRIMARY KEY "
                "(directory, name));"
                "PRAGMA user_version = 1",
            "another schema"},

           {zerovora::create_schema_sql() + "PRAGMA application_id = 12345",
            "another application id (application id 12345)"}}) {
    SCOPED_TRACE(sql);
    std::filesystem::remove(file_);
    run_sql(file_, sql);
    expect_refused(reason);
  }

  // Our marks on a file without a schema (whose encoding SQLite leaves 0
  // until it has one).
  std::filesystem::remove(file_);
  run_sql(file_, "PRAGMA application_id = " +
                     std::to_string(zerovora::kApplicationId) +
                     "; PRAGMA user_version = 1");
  std::string bare = read_file(file_);
  bare.replace(56, 4, std::string("\0\0\0\1", 4));
  write_file(file_, bare);
  expect_refused("another schema");

  // Our marks and schema in UTF-16 text, or with a write-ahead log.
  for (const auto &[setting, reason] :
       std::vector<std::pair<std::string, std::string>>{
           {"PRAGMA encoding = 'UTF-16le';", "not in UTF-8"},
           {"PRAGMA journal_mode = WAL;", "write-ahead log"}}) {
    SCOPED_TRACE(setting);
    std::filesystem::remove(file_);
    run_sql(file_, setting + zerovora::create_schema_sql());
    expect_refused(reason);
  }

  // A writer killed mid-transaction left a journal beside a foreign file
  // that carries one of our two marks: both stay as they are, although
  // SQLite would roll the journal back.
  for (const auto &[mark, reason] :
       std::vector<std::pair<std::string, std::string>>{
           {"PRAGMA user_version = " + std::to_string(zerovora::kSchemaVersion),
            "application id 0"},
           {"PRAGMA application_id = " +
                std::to_string(zerovora::kApplicationId),
            "user version 0"}}) {
    SCOPED_TRACE(mark);
    std::filesystem::remove(file_);
    run_sql(file_,
            mark +
                "; CREATE TABLE other (x); WITH RECURSIVE c(i) AS "
                "(SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < "
                "2000) INSERT INTO other SELECT randomblob(100) FROM c;");
    leave_hot_journal(file_, "DELETE FROM other");
    ASSERT_TRUE(exists(file_ + "-journal"));
    expect_refused(reason);
    std::filesystem::remove(file_ + "-journal");
  }

  // A foreign file (our schema and another application id, or another
  // schema and no marks) with our marks written over its own by a writer
  // that was killed: the header passes, and the rollback restores the
  // foreign header, which is refused then.
  for (const auto &[sql, reason] :
       {std::pair(
            zerovora::create_schema_sql() + "PRAGMA application_id = 12345",
            "another application id (application id 12345)"),
        std::pair(std::string("CREATE TABLE other (x)"),
                  "another schema (a table, index, view or trigger added, "
                  "changed or missing)")}) {
    SCOPED_TRACE(sql);
    std::filesystem::remove(file_);
    run_sql(file_, sql);
    const std::string foreign = read_file(file_);
    std::string marked = foreign;
    marked.replace(60, 4, std::string("\0\0\0\1", 4));
    marked.replace(68, 4, "zvdb");
    write_file(file_, marked);
    write_file(kJournal,
               journal_bytes(static_cast<std::uint32_t>(foreign.size() / 4096),
                             "", foreign.substr(0, 4096)));
    expect_failure(
        [&] { return open() ? 0 : -1; }, -1,
        kFile + ": not a database of this library: " + reason + "\n");
    EXPECT_TRUE(read_file(file_) == foreign) << "not rolled back";
    std::filesystem::remove(kJournal);
  }

  // A second link to our file, and a journal that is a link or a folder.
  write_file(file_, ours);
  const std::string other_name = kCard + "/other-name";
  ASSERT_EQ(link(file_.c_str(), other_name.c_str()), 0);
  expect_refused("a second link");
  std::filesystem::remove(other_name);
  ASSERT_EQ(symlink(other_name.c_str(), (file_ + "-journal").c_str()), 0);
  expect_refused("not a journal of this library, left as it is: a symbolic");
  std::filesystem::remove(file_ + "-journal");
  ASSERT_EQ(mkdir((file_ + "-journal").c_str(), 0755), 0);
  expect_refused("not a journal of this library, left as it is: a folder");
  std::filesystem::remove(file_ + "-journal");
  std::filesystem::remove(file_);
  ASSERT_EQ(mkfifo(file_.c_str(), 0644), 0);
  expect_refused("a device, FIFO or socket in its place");
}

// SQLite may reach the database file and its journal, and nothing else:
// side files that the library never writes are refused, and neither they
// nor what they name change.
TEST_F(StandInTest, OpenRefusesSideFilesThatItNeverWritesAndTouchesNothing) {
  const std::string book = kCard + "/book.epub";
  const std::string off_card = std::string(kMedia) + "/elsewhere";
  const std::string wal = file_ + "-wal";
  const std::string shm = file_ + "-shm";
  const std::string copy = off_card + "/copy.db";
  const std::string fifo = kCard + "/fifo";
  struct Card {
    const char *name;
    std::function<void()> prepare;
    const char *reason;  // what the line says
  };
  const Card cards[] = {
      {"-wal linked to a book", [&] { link(book.c_str(), wal.c_str()); },
       "-wal: a write-ahead log that"},
      {"junk -wal, -shm linked to a book",
       [&] {
         write_file(wal, std::string(4096, 'j'));
         link(book.c_str(), shm.c_str());
       },
       "-wal: a write-ahead log that"},
      {"a folder at -shm", [&] { mkdir(shm.c_str(), 0755); },
       "-shm: a write-ahead log's index"},
      {"a write-ahead log with a row of its own",
       [&] {
         std::filesystem::copy_file(file_, copy);
         end_without_closing(copy,
                             "PRAGMA journal_mode = WAL; INSERT INTO files "
                             "VALUES ('/w', 'w', 1, 1, 'w', 'w', 'w')");
         std::filesystem::copy_file(copy + "-wal", wal);
       },
       "-wal: a write-ahead log that"},
      {"a journal naming a file off the card",
       [&] { write_file(kJournal, journal_bytes(1, off_card + "/precious")); },
       "-journal: not a journal of this library, left as it is: it names a "
       "super-journal"},
      {"a journal hard-linked to a book",
       [&] { link(book.c_str(), kJournal.c_str()); },
       "not a journal of this library, left as it is: a file with a second "
       "link"},
      {"a journal restoring a larger file, in pages fewer than its bytes",
       [&] { write_file(kJournal, journal_bytes(100, "")); },
       "to 409600 bytes"},
      {"a journal naming a file with control bytes in its name",
       [&] {
         write_file(kJournal,
                    journal_bytes(1, kCard + "/\x1b]0;owned\x07\x1b[2J\r"));
       },
       "names a super-journal"},
      {"a journal naming a file, beside no database file",
       [&] {
         std::filesystem::remove(file_);
         write_file(kJournal, journal_bytes(1, off_card + "/precious"));
       },
       "names a super-journal"},
      {"a journal naming a FIFO",
       [&] {
         mkfifo(fifo.c_str(), 0644);
         write_file(kJournal, journal_bytes(1, fifo));
       },
       "names a super-journal"},
      {"a journal restoring a larger file",
       [&] { write_file(kJournal, journal_bytes(262144, "")); },
       "to 1073741824 bytes"},
      {"a journal restoring a larger file in the file's own page size",
       [&] { write_file(kJournal, journal_bytes(1000000, "", "", 0)); },
       "to 4096000000 bytes"},
      {"the same, in the file's own page size of 65536 bytes",
       [&] {
         std::filesystem::remove(file_);
         run_sql(file_,
                 "PRAGMA page_size = 65536;" + zerovora::create_schema_sql());
         write_file(kJournal, journal_bytes(4, "", "", 0));
       },
       "to 262144 bytes"},
      {"a journal counting the most pages",
       [&] { write_file(kJournal, journal_bytes(0xffffffff, "")); },
       "to 17592186040320 bytes"},
      {"a journal of the largest page size",
       [&] { write_file(kJournal, journal_bytes(1, "", "", 0xffffffff)); },
       "to 4294967295 bytes"},
      {"a journal one byte larger than the file, in pages of 1 byte",
       [&] {
         write_file(
             kJournal,
             journal_bytes(std::uint32_t(std::filesystem::file_size(file_) + 1),
                           "", "", 1));
       },
       "it would grow the database file from 12288 to 12289 bytes"},
      {"the same, beside a file that gives no page size SQLite takes",
       [&] {
         std::string bytes = read_file(file_);
         bytes.replace(16, 2, "\x03\xe8");
         write_file(file_, bytes);
         write_file(kJournal, journal_bytes(1, "", "", 0));
       },
       "to 65536 bytes"},
  };
  for (const auto &[card, prepare, reason] : cards) {
    SCOPED_TRACE(card);
    for (const auto &folder : {kCard, off_card}) {
      std::filesystem::create_directory(folder);
      for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        std::filesystem::remove_all(entry.path());
      }
    }
    add_sample();
    write_file(book, std::string(50000, 'b'));
    write_file(off_card + "/precious", "precious");
    prepare();
    expect_refused(reason);
  }
}

// Journals at the bound that restores no larger file than there is are
// rolled back as SQLite rolls them back, with no line: one of no pages, as
// a killed first run leaves, truncates the file, which then gets the schema
// again; one whose page size SQLite takes for none is dropped, and the file
// kept. The judgement reads neither the record count nor the sector size:
// whatever they give, SQLite restores no more than the file's own page 1
// (here with a later change counter), or nothing where it takes the header
// for one never synced.
TEST_F(StandInTest, JournalsAtTheBoundOfTheFilesSizeAreRolledBack) {
  struct Row {
    const char *name;
    std::uint32_t page_size;  // 1: the file's size in pages of 1 byte
    std::optional<std::uint32_t> records;
    std::uint32_t sector_size;
    bool restored;  // page 1 comes back; by default the file is unchanged
    int entries;
  };
  const Row rows[] = {
      {"no pages", 4096, 0, 512, false, 0},
      {"the file's size in pages of 1 byte", 1, {}, 512, false, 1},
      {"page 1, counted", 4096, {}, 512, true, 1},
      {"page 1, counting no records", 4096, 0, 512, false, 1},
      {"page 1, counted from the journal's size", 4096, 0xffffffff, 512, true,
       1},
      {"the smallest sector", 4096, {}, 32, true, 1},
      {"the largest sector", 4096, {}, 65536, true, 1},
      {"a sector of 0 bytes", 4096, {}, 0, false, 1},
      {"a sector of the largest size", 4096, {}, 0xffffffff, false, 1},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::remove(file_);
    add_sample();
    const std::string bytes = read_file(file_);
    std::string page = bytes.substr(0, 4096);
    page[27] = char(page[27] + 1);
    const bool no_pages = row.entries == 0;
    write_file(
        kJournal,
        no_pages ? journal_bytes(0, "")
                 : journal_bytes(std::uint32_t(bytes.size()) / row.page_size,
                                 "", row.page_size == 1 ? "" : page,
                                 row.page_size, row.records, row.sector_size));
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(open());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(exists(kJournal));
    EXPECT_EQ(count_entries(file_), row.entries);
    if (!no_pages) {
      EXPECT_TRUE(read_file(file_) ==
                  (row.restored ? page + bytes.substr(4096) : bytes))
          << "page 1 came back: " << !row.restored;
    }
  }
}

// An empty file that was there before is not the run's to remove.
TEST_F(StandInTest, AFirstOpenThatCantWriteTheSchemaLeavesNoFile) {
  ASSERT_EQ(mount("full-card", kCard.c_str(), "tmpfs", 0, "size=64k"), 0);
  fill_up(kCard);
  expect_refused("the card is full");
  write_file(file_, "");
  expect_refused("the card is full");
}

// The file that a failed first run made goes only while it is still that
// file, empty, and held by no other connection.
TEST_F(StandInTest, AMadeFileGoesOnlyWhileItIsStillTheEmptyFileMade) {
  write_file(file_, "");
  struct stat st {};
  ASSERT_EQ(stat(file_.c_str(), &st), 0);
  const zerovora::FileId made{st.st_dev, st.st_ino};
  zerovora::Failure why;
  const auto vfs = zerovora::CardVfs::make(file_, why);
  ASSERT_TRUE(vfs);
  sqlite3 *raw = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2(file_.c_str(), &raw, SQLITE_OPEN_READWRITE, vfs->name()),
      SQLITE_OK);
  const zerovora::Database db(raw);
  zerovora::Database reader;
  struct Case {
    const char *name;
    std::function<void()> prepare;
    zerovora::FileId id;
    bool removed;
  };
  const Case cases[] = {
      {"another connection reads it",
       [&] {
         ASSERT_EQ(sqlite3_open(file_.c_str(), &raw), SQLITE_OK);
         reader.reset(raw);
         ASSERT_EQ(
             sqlite3_exec(raw, "BEGIN; SELECT count(*) FROM sqlite_schema",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
       },
       made, false},
      {"written meanwhile", [&] { write_file(file_, "x"); }, made, false},
      {"another file", [] {}, {made.device, made.inode + 1}, false},
      {"on another card", [] {}, {made.device + 1, made.inode}, false},
      {"the empty file made", [] {}, made, true},
      {"gone meanwhile", [&] { std::filesystem::remove(file_); }, made, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    reader.reset();
    write_file(file_, "");
    c.prepare();
    zerovora::remove_made_file(db.get(), file_, c.id);
    EXPECT_EQ(exists(file_), !c.removed);
  }
}

// Another run may make the file and remove it again while this one has it
// open: a file that is no longer the one at its path is never written.
TEST_F(StandInTest, AFileNoLongerAtItsPathIsForeign) {
  add_sample();
  sqlite3 *raw = nullptr;
  ASSERT_EQ(sqlite3_open(file_.c_str(), &raw), SQLITE_OK);
  const zerovora::Database db(raw);
  zerovora::Failure why;
  EXPECT_EQ(zerovora::judge_before_reading(db.get(), why),
            zerovora::FileIs::kOurs);
  std::filesystem::remove(file_);
  write_file(file_, "");
  EXPECT_EQ(zerovora::judge_before_reading(db.get(), why),
            zerovora::FileIs::kForeign)
      << "judged a file that is no longer at its path";
  EXPECT_EQ(why.cause,
            "no longer the file at its path: another run removed it");
}

TEST_F(StandInTest, ALockHeldThroughTheOpenRefusesIt) {
  add_sample();
  const HeldLock lock(file_, "BEGIN EXCLUSIVE");
  const auto start = std::chrono::steady_clock::now();
  expect_refused(
      "locked by another process for longer than the library "
      "waits (10 s)");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(9))
      << "gave up before the wait that the line names";
}

// Each mark of the header, changed alone in a file of ours (to its
// smallest value, its largest, and its own with a bit flipped), makes it
// foreign, and the line names the mark and the value read.
TEST_F(StandInTest, EveryMarkOfTheHeaderIsChecked) {
  add_sample();
  const std::string ours = read_file(file_);
  for (const zerovora::HeaderMark &mark : zerovora::kHeaderMarks) {
    const std::uint64_t largest = (std::uint64_t{1} << (8 * mark.size)) - 1;
    for (const std::uint64_t value :
         {std::uint64_t{0}, largest, std::uint64_t{mark.value ^ 0x40}}) {
      SCOPED_TRACE(std::string(mark.name) + " " + std::to_string(value));
      std::string changed = ours;
      for (std::size_t i = 0; i < mark.size; ++i) {
        changed[mark.offset + i] = char(value >> (8 * (mark.size - 1 - i)));
      }
      write_file(file_, changed);
      expect_refused(std::string("not a database of this library: ") +
                     mark.differs + " (" + mark.name + " " +
                     std::to_string(value) + ")");
    }
  }
}

TEST_F(StandInTest, AnEmptyFileBecomesADatabase) {
  write_file(file_, "");
  add_sample();
  EXPECT_EQ(count_entries(file_), 1);
}

TEST_F(StandInTest, OpenRefusesATruncatedCopy) {
  const std::string long_title(20000, 't');
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(
        zerovora_global_add_file(open().get(), "/d", std::to_string(i).c_str(),
                                 1, 2, long_title.c_str(), "a", "t"),
        ZEROVORA_OK);
  }
  const std::string whole = read_file(file_);
  write_file(file_, whole.substr(0, whole.size() / 2));
  expect_refused(kFile + ": damaged");
  // Cut inside the last page.
  write_file(file_, whole.substr(0, whole.size() - 1024));
  expect_refused("a cut-off copy");
  // The same in the smallest and the largest page size, which the header
  // gives as 1: each page is counted in its own size.
  for (const int page_size : {512, 65536}) {
    SCOPED_TRACE(page_size);
    std::filesystem::remove(file_);
    run_sql(file_, "PRAGMA page_size = " + std::to_string(page_size) + ";" +
                       zerovora::create_schema_sql());
    add_sample();
    const std::string bytes = read_file(file_);
    ASSERT_EQ(bytes.substr(16, 2), page_size == 512
                                       ? std::string("\x02\x00", 2)
                                       : std::string("\x00\x01", 2));
    const std::size_t pages = bytes.size() / page_size;
    write_file(file_, bytes.substr(0, bytes.size() - 1));
    expect_refused("a cut-off copy (" + std::to_string(bytes.size() - 1) +
                   " bytes, where its header counts " + std::to_string(pages) +
                   " pages of " + std::to_string(page_size) + ")");
  }
}

TEST_F(StandInTest, ProcessesCreatingTheDatabaseAtOnceAllSucceed) {
  constexpr int kProcesses = 16;
  const auto runs = in_processes(kProcesses, [this](int i) {
    const std::string name = std::to_string(i);
    return zerovora_global_add_file(open().get(), "/d", name.c_str(), i, i,
                                    name.c_str(), "a", "t");
  });
  for (int i = 0; i < kProcesses; ++i) {
    EXPECT_EQ(runs[i].status, 0) << "process " << i << ": " << runs[i].err;
    EXPECT_EQ(runs[i].err, "") << "process " << i;
    EXPECT_EQ(stored_entry(kCard, "/d", std::to_string(i)).title,
              std::to_string(i));
  }
  EXPECT_EQ(count_entries(file_), kProcesses);
}

}  // namespace
}  // namespace vorn::testing
