#include "card.h"

#include <sys/stat.h>

#include <cerrno>
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

// True when nothing, or a regular file with at most one link, is at `path`;
// otherwise `why` gets what is there instead, as a file of `kind`.
// (A journal has no link left while another process deletes it.)
bool is_nothing_or_single_file(const std::string &path, const char *kind,
                               Failure &why) {
  why.path = path;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) {
    why.cause = std::strerror(errno);
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
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
  why = {path, std::string(kind) +
                   " that this library never writes, left as it is: remove "
                   "it, or let the program that wrote it finish"};
  return false;
}

}  // namespace

bool is_card(const char *directory) {
  return is_directory(directory) && is_mount_point(directory);
}

bool may_open(const std::string &path, Failure &why) {
  return is_nothing_or_single_file(path, "a database", why) &&
         is_nothing_or_single_file(path + "-journal", "a journal", why) &&
         is_nothing(path + "-wal", "a write-ahead log", why) &&
         is_nothing(path + "-shm", "a write-ahead log's index", why);
}

}  // namespace zerovora
