// SPDX-License-Identifier: MIT
// How a registration result becomes the process's exit status.
#ifndef VORN_CLI_EXIT_STATUS_H
#define VORN_CLI_EXIT_STATUS_H

namespace vorn {

// vorn's exit statuses are the registration's results as they are (0,
// kResultNotAFileName, kResultFileUnreadable, the library's failure codes,
// and kResultDatabaseUnavailable as 255), and these two of the command
// line's own.

// The exit status when vorn does not start its work: the count of values is
// wrong (the usage message says so), or a standard stream that was closed
// could not be opened on /dev/null. (The toolkit ends the process with 1
// too when it can't open its display.)
inline constexpr int kExitNotStarted = 1;

// The exit status for a non-zero result whose low byte is 0, which the
// process would otherwise report as success.
inline constexpr int kExitUnrepresentable = 254;

// Returns the exit status for a registration result: the result modulo 256
// (so -1 becomes 255), except that a failure never becomes 0.
constexpr int exit_status_for(int result) {
  if (result != 0 && (result & 0xff) == 0) return kExitUnrepresentable;
  return result & 0xff;
}

}  // namespace vorn

#endif
