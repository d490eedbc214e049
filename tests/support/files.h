// Whole-file reads and writes for tests.
#ifndef VORN_TESTS_FILES_H
#define VORN_TESTS_FILES_H

#include <ctime>
#include <string>

namespace vorn::testing {

// Writes `bytes` to `path`, replacing it; fails the test on error.
void write_file(const std::string &path, const std::string &bytes);

// Returns the bytes of `path`; fails the test on error.
std::string read_file(const std::string &path);

// How far after the modification time set_mtime sets the access time.
inline constexpr time_t kAccessTimeApart = 86400;

// Sets the modification time of `path` to `seconds` since the Unix epoch,
// and its access time kAccessTimeApart later; fails the test on error.
void set_mtime(const std::string &path, time_t seconds);

// True when something (even a dangling link) is at `path`.
bool exists(const std::string &path);

}  // namespace vorn::testing

#endif
