// SPDX-License-Identifier: MIT
#include "sweep.h"

#include <filesystem>
#include <sstream>

#include "files.h"
#include "private_card.h"

namespace vorn::testing {
namespace {

// Beside the card, on the test's own /media.
constexpr const char *kTrace = "/media/sweep-trace";

constexpr const char *kCalls =
    "trace=openat,read,pread64,write,pwrite64,fsync,fdatasync,ftruncate,"
    "unlink,fcntl,newfstatat,statx";

// strace limited to the calls that touch the card, with `options`.
ProcessResult traced(const std::vector<std::string> &options,
                     const std::vector<std::string> &command,
                     const std::vector<std::string> &env) {
  std::vector<std::string> argv = {"strace",
                                   "-f",
                                   "-qq",
                                   "-P",
                                   kDatabaseFile,
                                   "-P",
                                   kJournal,
                                   "-P",
                                   kDatabaseFile + "-wal",
                                   "-P",
                                   kDatabaseFile + "-shm",
                                   "-P",
                                   kCard};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), command.begin(), command.end());
  return run_process(argv, env);
}

}  // namespace

CardCalls trace_card_calls(const std::vector<std::string> &command,
                           const std::vector<std::string> &env) {
  traced({"-y", "-o", kTrace, "-e", kCalls}, command, env);
  CardCalls calls;
  // Lines such as: 1234  fdatasync(5</media/card/x-journal>) = 0
  std::istringstream lines(read_file(kTrace));
  std::filesystem::remove(kTrace);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t name = line.find_first_not_of(' ', line.find(' '));
    const std::size_t open = line.find('(', name);
    if (name == std::string::npos || open == std::string::npos) continue;
    const std::string call = line.substr(name, open - name);
    ++calls.counts[call];
    const std::size_t path = line.find('<', open);
    if ((call == "fsync" || call == "fdatasync") && path != std::string::npos) {
      calls.syncs_and_unlinks.push_back(
          "sync " + line.substr(path + 1, line.find('>', path) - path - 1));
    }
    // Lines such as: 1234  unlink("/media/card/x-journal") = 0
    const std::size_t quote = line.find('"', open);
    if (call == "unlink" && quote != std::string::npos) {
      calls.syncs_and_unlinks.push_back(
          "unlink " +
          line.substr(quote + 1, line.find('"', quote + 1) - quote - 1));
    }
  }
  return calls;
}

std::vector<std::string> faults_for(const std::string &call) {
  std::vector<std::string> faults = {"signal=KILL", "error=EIO"};
  // A card that fills as the data is written, or written back.
  if (call.find("write") != std::string::npos ||
      call.find("sync") != std::string::npos)
    faults.insert(faults.end(), {"error=ENOSPC", "error=EDQUOT"});
  // A journal that can't be made for want of room: a full card, or a full
  // root directory on FAT.
  if (call == "openat")
    faults.insert(faults.end(),
                  {"error=EACCES", "error=ENOSPC", "error=EDQUOT"});
  return faults;
}

ProcessResult run_with_fault(const std::vector<std::string> &command,
                             const std::vector<std::string> &env,
                             const std::string &call, int n,
                             const std::string &fault) {
  return traced({"-o", "/dev/null", "-e", "trace=" + call, "-e",
                 "inject=" + call + ":" + fault + ":when=" + std::to_string(n)},
                command, env);
}

}  // namespace vorn::testing
