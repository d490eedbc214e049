#include "card.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
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

}  // namespace

bool is_card(const char *directory) {
  return is_directory(directory) && is_mount_point(directory);
}

bool may_open(const std::string &path) {
  const std::string journal = path + "-journal";
  return is_nothing_or_single_file(path) &&
         is_nothing_or_single_file(journal) && is_nothing(path + "-wal") &&
         is_nothing(path + "-shm");
}

}  // namespace zerovora
