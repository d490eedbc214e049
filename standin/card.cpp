#include "card.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace zerovora {
namespace {

bool is_directory(const char *path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Undoes the octal escapes (\040 for a space) of a path in the mount table.
std::string unescape_mount_path(const std::string &field) {
  const auto is_octal = [](char c) { return c >= '0' && c <= '7'; };
  std::string path;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) &&
        is_octal(field[i + 2]) && is_octal(field[i + 3])) {
      path +=
          static_cast<char>((field[i + 1] - '0') * 64 +
                            (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      path += field[i];
    }
  }
  return path;
}

// True when the process's mount table has a mount at `directory`.
bool listed_as_mount_point(const char *directory) {
  char *canonical = realpath(directory, nullptr);
  if (canonical == nullptr) return false;
  const std::string wanted(canonical);
  std::free(canonical);
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    // The fifth field is the mount point.
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 5 && fields >> field; ++i) {
    }
    if (unescape_mount_path(field) == wanted) return true;
  }
  return false;
}

// True when `directory` is the root of a mounted file system. A bind mount
// shows only in the mount table when it binds a folder of the file system
// below it.
bool is_mount_point(const char *directory) {
  struct stat self {};
  struct stat parent {};
  const std::string up = std::string(directory) + "/..";
  if (stat(directory, &self) != 0 || stat(up.c_str(), &parent) != 0) {
    return false;
  }
  if (self.st_dev != parent.st_dev || self.st_ino == parent.st_ino) {
    return true;
  }
  return listed_as_mount_point(directory);
}

// True when nothing, or a regular file with at most one link, is at `path`.
// (A journal has no link left while another process deletes it.)
bool is_nothing_or_single_file(const std::string &path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISREG(st.st_mode) && st.st_nlink <= 1;
}

// True when nothing is at `path`, not even a dangling link.
bool is_nothing(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

// A file descriptor, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

// What a rollback journal holds at its start (the first header: its magic,
// then among others the database's size in pages before the transaction
// and the page size) and at its end when it names a super-journal (the
// name's length, a checksum and the magic again).
constexpr std::array<std::uint8_t, 8> kJournalMagic = {0xd9, 0xd5, 0x05, 0xf9,
                                                       0x20, 0xa1, 0x63, 0xd7};
constexpr off_t kJournalHeaderSize = 28;
constexpr std::size_t kOriginalPagesOffset = 16;
constexpr std::size_t kPageSizeOffset = 24;
constexpr off_t kSuperJournalTailSize = 16;

std::uint32_t big_endian(const std::uint8_t *bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

bool read_at(int fd, std::uint8_t *bytes, off_t size, off_t offset) {
  return pread(fd, bytes, size, offset) == size;
}

// True when the journal at `journal`, if there is one, may be rolled back
// into a database file of `database_size` bytes. Ours never names a
// super-journal (there is one database, never attached to another), and
// never restores a larger file than there is (the file only grows, and
// only after its size is in the journal): a journal that does either was
// written by something else, and SQLite would delete the file it names or
// grow the database file to the size it gives.
bool journal_may_roll_back(const std::string &journal, off_t database_size) {
  const Descriptor fd(
      open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return errno == ENOENT;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::array<std::uint8_t, kSuperJournalTailSize> tail{};
  if (st.st_size >= kSuperJournalTailSize) {
    if (!read_at(fd.get(), tail.data(), kSuperJournalTailSize,
                 st.st_size - kSuperJournalTailSize)) {
      return false;
    }
    if (std::memcmp(&tail[8], kJournalMagic.data(), kJournalMagic.size()) ==
            0 &&
        big_endian(&tail[0]) != 0) {
      return false;
    }
  }
  std::array<std::uint8_t, kJournalHeaderSize> header{};
  if (st.st_size < kJournalHeaderSize) return true;
  if (!read_at(fd.get(), header.data(), kJournalHeaderSize, 0)) return false;
  if (std::memcmp(header.data(), kJournalMagic.data(), kJournalMagic.size()) !=
      0) {
    return true;
  }
  const std::uint64_t restored =
      std::uint64_t{big_endian(&header[kOriginalPagesOffset])} *
      big_endian(&header[kPageSizeOffset]);
  return restored <= static_cast<std::uint64_t>(database_size);
}

// The size of the file at `path`; 0 when there is none.
off_t size_of(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

}  // namespace

bool is_card(const char *directory) {
  return is_directory(directory) && is_mount_point(directory);
}

bool may_open(const std::string &path) {
  const std::string journal = path + "-journal";
  return is_nothing_or_single_file(path) &&
         is_nothing_or_single_file(journal) && is_nothing(path + "-wal") &&
         is_nothing(path + "-shm") &&
         journal_may_roll_back(journal, size_of(path));
}

}  // namespace zerovora
