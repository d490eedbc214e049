// SPDX-License-Identifier: MIT
#include "card.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

namespace zerovora {
namespace {

// Undoes the octal escapes of a path in the mount table, where the kernel
// writes a space, a tab, a newline and a backslash as \ and three digits.
std::string unescape_mount_path(const std::string &field) {
  std::string path;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\') {
      path += static_cast<char>(
          std::strtoul(field.substr(i + 1, 3).c_str(), nullptr, 8));
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
  // Fails only when the directory, just examined, went meanwhile.
  if (canonical == nullptr) return false;  // GCOVR_EXCL_BR_LINE
  const std::string wanted(canonical);
  std::free(canonical);
  std::ifstream table("/proc/self/mountinfo");
  std::string line;
  while (std::getline(table, line)) {
    // The fifth field is the mount point; the kernel writes every field.
    std::size_t start = 0;
    for (int field = 0; field < 4; ++field) start = line.find(' ', start) + 1;
    const std::string field = line.substr(start, line.find(' ', start) - start);
    if (unescape_mount_path(field) == wanted) return true;
  }
  return false;
}

// True when nothing, or a regular file with at most one link, is at `path`;
// otherwise `why` gets what is there instead, as a file of `kind`.
// (A journal has no link left while another process deletes it.)
bool is_nothing_or_single_file(const std::string &path, const char *kind,
                               Failure &why) {
  why.path = path;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    why.cause = reason(errno);
    return errno == ENOENT;
  }
  const char *instead = nullptr;
  if (S_ISLNK(st.st_mode)) {
    instead = "a symbolic link in its place";
  } else if (S_ISDIR(st.st_mode)) {
    instead = "a folder in its place";
  } else if (!S_ISREG(st.st_mode)) {
    instead = "a device, FIFO or socket in its place";
  } else if (st.st_nlink > 1) {
    instead = "a file with a second link";
  } else {
    return true;
  }
  why.cause = std::string("not ") + kind +
              " of this library, left as it is: " + instead;
  return false;
}

// True when nothing is at `path`, not even a dangling link; otherwise
// `why` says that the library never writes the `kind` there.
bool is_nothing(const std::string &path, const char *kind, Failure &why) {
  why.path = path;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    why.cause = reason(errno);
    return errno == ENOENT;
  }
  why.cause = std::string(kind) +
              " that this library never writes, left as it is: remove it, "
              "or let the program that wrote it finish";
  return false;
}

}  // namespace

bool is_card(const char *directory, Failure &why) {
  why = {directory, ""};
  struct stat self {};
  struct stat parent {};
  const std::string up = std::string(directory) + "/..";
  if (stat(directory, &self) != 0 || stat(up.c_str(), &parent) != 0) {
    // Nothing there, or a file (which has no ".."), is no card: the caller
    // says so.
    if (errno != ENOENT && errno != ENOTDIR) {
      why.cause = std::string("can't be examined: ") + reason(errno);
    }
    return false;
  }
  // The root of another file system than its parent's; a bind mount shows
  // only in the mount table when it binds a folder of the file system below
  // it, and so does the root directory.
  return self.st_dev != parent.st_dev || listed_as_mount_point(directory);
}

bool may_open(const std::string &path, Failure &why) {
  const std::string journal = path + "-journal";
  const std::string wal = path + "-wal";
  const std::string shm = path + "-shm";
  return is_nothing_or_single_file(path, "a database", why) &&
         is_nothing_or_single_file(journal, "a journal", why) &&
         is_nothing(wal, "a write-ahead log", why) &&
         is_nothing(shm, "a write-ahead log's index", why);
}

}  // namespace zerovora
