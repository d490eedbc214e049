// SPDX-License-Identifier: MIT
// Runs programs as child processes and collects what they wrote.
#ifndef VORN_TESTS_PROCESS_H
#define VORN_TESTS_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vorn::testing {

struct ProcessResult {
  // The exit status, or -1 when the child was ended by a signal.
  int status = -1;
  // The signal that ended the child, or 0.
  int signal = 0;
  // True when the child was still running at the time limit and was killed.
  bool timed_out = false;
  std::string out;
  std::string err;
  // The child's peak resident memory, in KiB.
  long max_rss_kib = 0;
};

// A started child; its standard output and error go to memory files.
struct Child {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// Starts `argv` (argv[0] is the program, searched in this process's PATH
// when it has no slash) with exactly the environment `env` and standard
// input from /dev/null.
Child start_process(const std::vector<std::string> &argv,
                    const std::vector<std::string> &env);

// Waits for `child` to end, killing it at `deadline`, and returns what it
// did. The child's files are closed.
ProcessResult finish_process(Child &child,
                             std::chrono::steady_clock::time_point deadline);

// The time `seconds` from now, as a deadline for finish_process.
inline std::chrono::steady_clock::time_point in_seconds(int seconds) {
  return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

// Starts `argv` and finishes it, killing it after `limit`.
ProcessResult run_process(
    const std::vector<std::string> &argv, const std::vector<std::string> &env,
    std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace vorn::testing

#endif
