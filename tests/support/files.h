// SPDX-License-Identifier: MIT
// Whole-file reads and writes for tests; each fails the test on error.
#ifndef VORN_TESTS_FILES_H
#define VORN_TESTS_FILES_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
// which any write changes, rather than read.
using Tree = std::map<std::string, std::string>;
inline Tree tree_of(const std::string &root) {
  namespace fs = std::filesystem;
  Tree tree;
  const auto add = [&tree](const fs::path &path) {
    const fs::file_type type = fs::symlink_status(path).type();
    std::string &kind = tree[path] = std::to_string(static_cast<int>(type));
    struct stat st {};
    if (type == fs::file_type::regular && lstat(path.c_str(), &st) == 0 &&
        st.st_size > 1024 * 1024) {
      kind.append(":").append(std::to_string(st.st_ino)).append(":");
      kind.append(std::to_string(st.st_size)).append(":");
      kind.append(
          std::to_string(st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec));
      kind.append(":").append(
          std::to_string(st.st_ctim.tv_sec * 1000000000 + st.st_ctim.tv_nsec));
    } else if (type == fs::file_type::regular)
      kind.append(":").append(read_file(path));
    if (type == fs::file_type::symlink)
      kind.append(":").append(fs::read_symlink(path));
  };
  add(root);
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    add(entry.path());
  }
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
