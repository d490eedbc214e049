// SPDX-License-Identifier: MIT
// A coverage-guided fuzz target for the stand-in's open path: each input
// makes a card's database file, a journal beside it and the side files,
// opens the database and, when it opens, looks up, adds and changes an
// entry. It fails (aborts) on any code outside the boundary's table, on a
// file of the card other than the database and its journal that changed,
// appeared or went, on a file off the card that changed, on a refused file
// or journal that changed although SQLite did not roll the journal back, and
// on a database file that grew beyond what one entry adds. The sanitizers
// and libFuzzer's limits catch crashes, hangs and unbounded memory.
//
// Input: a byte of flags (1: a -wal, 2: a -shm, 4: a journal, 8: a database
// file), two bytes (little-endian) of the database file's length, the
// database file's bytes, and the journal's bytes: the rest.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "card.h"
#include "card_names.h"
#include "private_namespace.h"
#include "zerovora.h"

namespace {

const std::string kMedia = "/media";
const std::string kCard = VORN_MEDIA_ROOT;
const std::string kFile = kCard + "/" + zerovora::kDatabaseFileName;
const std::string kJournal = kFile + "-journal";
const std::string kOffCard = kMedia + "/off-card";

// What one entry can add to the file: a few pages of the largest size.
constexpr std::uintmax_t kGrowthOfOneEntry = 8 * 65536;

void fail(const std::string &what) {
  std::fprintf(stderr, "open_path_fuzzer: %s\n", what.c_str());
  std::abort();
}

void write(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A file's size and, unless it is larger than the card could hold but as
// a sparse file, its bytes.
struct Contents {
  std::uintmax_t size;
  std::string bytes;
  bool operator==(const Contents &) const = default;
};
constexpr std::uintmax_t kLargestRead = 64 * 1024 * 1024;

// Every file under `folder`, by path.
std::map<std::string, Contents> files_under(const std::string &folder) {
  std::map<std::string, Contents> files;
  for (const auto &entry :
       std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    Contents &contents = files[entry.path()];
    contents.size = entry.file_size();
    if (contents.size > kLargestRead) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    contents.bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

bool is_code(int code) {
  return code == ZEROVORA_OK ||
         (code >= ZEROVORA_ERROR_ARGUMENT && code <= ZEROVORA_ERROR_IO);
}

// Looks up, adds and changes an entry, as vorn does.
void use(zerovora_global *global) {
  metadata_table *wanted = metadata_table_new();
  metadata_table_add_column(wanted, ZEROVORA_COLUMN_TAG);
  metadata_table *out = nullptr;
  const int found = zerovora_global_get_file(global, "/d", "f", wanted, &out);
  metadata_table_free_impl(out);
  metadata_table_free_impl(wanted);
  const int added =
      zerovora_global_add_file(global, "/d", "g", 1, 2, "t", "a", "g");
  metadata_table *values = metadata_table_new();
  metadata_table_add_column(values, ZEROVORA_COLUMN_TITLE);
  metadata_table_set_text(values, 0, "T");
  const int changed = zerovora_global_change_file(global, "/d", "f", values);
  metadata_table_free_impl(values);
  if (!is_code(found) || !is_code(added) || !is_code(changed)) {
    fail("a code outside the boundary's table");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // A card of its own in a private mount namespace, as the tests have.
  const std::string namespace_error =
      vorn::testing::enter_private_mount_namespace();
  if (!namespace_error.empty()) fail(namespace_error);
  if (mount("fuzz", kMedia.c_str(), "tmpfs", 0, "size=64m") != 0 ||
      mkdir(kCard.c_str(), 0755) != 0 ||
      mount("fuzz", kCard.c_str(), "tmpfs", 0, "size=32m") != 0) {
    fail("no private card");
  }
  write(kOffCard, "off the card");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size < 3) return -1;
  const std::string input(reinterpret_cast<const char *>(data), size);
  const int flags = data[0];
  const std::size_t length =
      std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
  for (const auto &entry : std::filesystem::directory_iterator(kCard)) {
    std::filesystem::remove_all(entry.path());
  }
  if ((flags & 8) != 0) write(kFile, input.substr(3, length));
  if ((flags & 4) != 0) write(kJournal, input.substr(3 + length));
  if ((flags & 1) != 0) write(kFile + "-wal", "a write-ahead log");
  if ((flags & 2) != 0) write(kFile + "-shm", "its index");

  const auto before = files_under(kMedia);
  zerovora_global *global = zerovora_global_open(kCard.c_str(), 0);
  if (global != nullptr) {
    use(global);
    zerovora_close(global);
  }
  auto after = files_under(kMedia);

  const auto file_before = before.find(kFile);
  const auto file_after = after.find(kFile);
  const bool journal_kept =
      before.count(kJournal) == after.count(kJournal) &&
      (!before.count(kJournal) || before.at(kJournal) == after.at(kJournal));
  if (global == nullptr) {
    if ((file_before == before.end()) != (file_after == after.end())) {
      fail("a refused open made or removed the database file");
    }
    if (journal_kept && file_before != before.end() &&
        file_before->second != file_after->second) {
      fail("a refused file changed, its journal kept");
    }
  }
  if (file_after != after.end()) {
    const std::uintmax_t was =
        file_before == before.end() ? 0 : file_before->second.size;
    if (file_after->second.size > was + kGrowthOfOneEntry) {
      fail("the database file grew from " + std::to_string(was) + " to " +
           std::to_string(file_after->second.size) + " bytes");
    }
  }
  // Everything but the database file and its journal is as it was.
  after.erase(kFile);
  after.erase(kJournal);
  auto others = before;
  others.erase(kFile);
  others.erase(kJournal);
  if (others != after) fail("a file other than the database's changed");
  return 0;
}
