// How a registration result becomes the process's exit status.
#ifndef VORN_CLI_EXIT_STATUS_H
#define VORN_CLI_EXIT_STATUS_H

#include "set_file_metadata.h"
#include "zerovora.h"

namespace vorn {

// The exit status when the count of values is wrong.
inline constexpr int kExitUsage = 1;

// The exit status for a non-zero result whose low byte is 0, which the
// process would otherwise report as success.
inline constexpr int kExitUnrepresentable = 254;

// Returns the exit status for a registration result: the result modulo 256
// (so -1 becomes 255), except that a failure never becomes 0.
constexpr int exit_status_for(int result) {
  if (result != 0 && (result & 0xff) == 0) return kExitUnrepresentable;
  return result & 0xff;
}

// Every exit status of vorn, each range with its meaning: the one table of
// them in the code. The README and the man page say the same to users.
struct ExitStatusRange {
  int first;
  int last;
  const char *meaning;
};
inline constexpr ExitStatusRange kExitStatuses[] = {
    {0, 0, "the entry was added or changed"},
    {kExitUsage, kExitUsage,
     "not exactly four values, no display, or a closed standard stream that "
     "could not be opened on /dev/null"},
    {ZEROVORA_ERROR_ARGUMENT, ZEROVORA_ERROR_IO,
     "the library's failure code, passed on"},
    {kResultNotAFileName, kResultNotAFileName, "FILE names no file entry"},
    {kResultFileUnreadable, kResultFileUnreadable,
     "no entry for the file, and its status can't be read"},
    {kExitUnrepresentable, kExitUnrepresentable,
     "the library failed with a code whose low byte is 0"},
    {exit_status_for(kResultDatabaseUnavailable),
     exit_status_for(kResultDatabaseUnavailable), "the database did not open"},
};

}  // namespace vorn

#endif
