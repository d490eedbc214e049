// SPDX-License-Identifier: MIT
// Whole-file reads and writes for tests; each fails the test on error.
#ifndef VORN_TESTS_FILES_H
#define VORN_TESTS_FILES_H

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace vorn::testing {

inline void write_file(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  ASSERT_TRUE(out) << "writing " << path;
}

inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "reading " << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Sets the modification time of `path` to `seconds` since the Unix epoch,
// and its access time a day later, so that storing the one instead of the
// other shows.
inline void set_mtime(const std::string &path, time_t seconds) {
  const timespec times[2] = {{seconds + 86400, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// True when something (even a dangling link) is at `path`.
inline bool exists(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// Everything under `root`, the root included: each path's kind, and a
// regular file's bytes and a link's target. Only regular files are opened;
// one over 1 MiB (a card filled up) is known by its inode, size and times,
// which any write changes, rather than read. The status comes from statx,
// whose times are 64-bit on every target: a 32-bit stat fails on a file
// dated after 2038.
using Tree = std::map<std::string, std::string>;
inline void add_to_tree(Tree &tree, const std::string &path) {
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS,
            &sx) != 0) {
    ADD_FAILURE() << "statx " << path << ": " << std::strerror(errno);
    return;
  }
  std::string &kind = tree[path] = std::to_string(sx.stx_mode & S_IFMT);
  if (S_ISREG(sx.stx_mode) && sx.stx_size > 1024 * 1024) {
    for (const std::int64_t number :
         {std::int64_t(sx.stx_ino), std::int64_t(sx.stx_size),
          std::int64_t(sx.stx_mtime.tv_sec), std::int64_t(sx.stx_mtime.tv_nsec),
          std::int64_t(sx.stx_ctime.tv_sec),
          std::int64_t(sx.stx_ctime.tv_nsec)}) {
      kind.append(":").append(std::to_string(number));
    }
  } else if (S_ISREG(sx.stx_mode)) {
    kind.append(":").append(read_file(path));
  } else if (S_ISLNK(sx.stx_mode)) {
    kind.append(":").append(std::filesystem::read_symlink(path).string());
  } else if (S_ISDIR(sx.stx_mode)) {
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) {
      ADD_FAILURE() << "opendir " << path << ": " << std::strerror(errno);
      return;
    }
    while (const dirent *entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") add_to_tree(tree, path + "/" + name);
    }
    closedir(dir);
  }
}
inline Tree tree_of(const std::string &root) {
  Tree tree;
  add_to_tree(tree, root);
  return tree;
}

// The paths that `after` holds differently from `before`, or made or lost,
// one a line; empty when nothing changed.
inline std::string changes(const Tree &before, const Tree &after) {
  std::string changed;
  for (const auto &[path, kind] : before) {
    const auto found = after.find(path);
    if (found == after.end()) {
      changed += "lost " + path + "\n";
    } else if (found->second != kind) {
      changed += "changed " + path + "\n";
    }
  }
  for (const auto &[path, kind] : after) {
    if (!before.contains(path)) changed += "made " + path + "\n";
  }
  return changed;
}

// Fills the file system that holds `directory` with a file of its own there,
// to its last byte.
inline void fill_up(const std::string &directory) {
  const int fd =
      open((directory + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const std::string block(4096, 'f');
  while (write(fd, block.data(), block.size()) > 0) {
  }
  while (write(fd, block.data(), 1) > 0) {
  }
  close(fd);
}

}  // namespace vorn::testing

#endif
