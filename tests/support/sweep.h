// SPDX-License-Identifier: MIT
// The machinery of the sweep of kill and failure points: counting, with
// strace, the system calls that a run makes on the card, and running it
// again with one of them killed or failed.
#ifndef VORN_TESTS_SWEEP_H
#define VORN_TESTS_SWEEP_H

#include <map>
#include <string>
#include <vector>

#include "process.h"

namespace vorn::testing {

// What a traced run did on the card: how often it made each system call,
// and its syncs (fsync or fdatasync) and deletions in order ("sync PATH",
// "unlink PATH").
struct CardCalls {
  std::map<std::string, int> counts;
  std::vector<std::string> syncs_and_unlinks;
};

// Runs `command` under strace with the environment `env`, tracing the file
// system calls that touch the card's database, its journal or its folder.
CardCalls trace_card_calls(const std::vector<std::string> &command,
                           const std::vector<std::string> &env);

// The faults to inject at a call: a kill, and the errors that the call can
// meet (EIO; ENOSPC for writes; EACCES for opens).
std::vector<std::string> faults_for(const std::string &call);

// Runs `command` with `fault` (an strace inject action) at the `n`th `call`
// that touches the card's database, its journal or its folder.
ProcessResult run_with_fault(const std::vector<std::string> &command,
                             const std::vector<std::string> &env,
                             const std::string &call, int n,
                             const std::string &fault);

}  // namespace vorn::testing

#endif
