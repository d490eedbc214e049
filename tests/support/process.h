// Runs a program as a child process and collects what it wrote.
#ifndef VORN_TESTS_PROCESS_H
#define VORN_TESTS_PROCESS_H

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
};

// Runs `argv` (argv[0] is the program, searched in this process's PATH when
// it has no slash) with exactly the environment `env` and standard input
// from /dev/null. The child is killed after
// `limit`.
ProcessResult run_process(
    const std::vector<std::string> &argv, const std::vector<std::string> &env,
    std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace vorn::testing

#endif
