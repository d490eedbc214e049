// Whole-file reads and writes for tests; each fails the test on error.
#ifndef VORN_TESTS_FILES_H
#define VORN_TESTS_FILES_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <iterator>
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

}  // namespace vorn::testing

#endif
