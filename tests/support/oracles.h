// SPDX-License-Identifier: MIT
// The oracles that judge a run of vorn by its whole outcome: what it left
// under /media, and whether its line names the cause of an injected error.
#ifndef VORN_TESTS_ORACLES_H
#define VORN_TESTS_ORACLES_H

#include <string>

#include "exit_status.h"
#include "files.h"
#include "private_card.h"
#include "process.h"

namespace vorn::testing {

// What a run that ended as `run` may have changed under /media, from
// `before` to `after`. A run that ends before it opens the database (1, 65)
// changes nothing. Any other may remove the journal, rolling it back into
// the database file, and change the database file when it opened it (not
// 255); only a killed run may leave or change the journal, or one whose
// deletion of it failed (`journal_may_stay`). Every other path, on the card
// and off it, is as it was: no file made, removed or changed. Returns what
// breaks this, a line each; empty when nothing does.
inline std::string changes_not_allowed(const Tree &before, const Tree &after,
                                       const ProcessResult &run,
                                       bool journal_may_stay = false) {
  const bool killed = run.signal != 0;
  const bool reached = killed || (run.status != kExitNotStarted &&
                                  run.status != kResultNotAFileName);
  const std::string changed = changes(before, after);
  const bool rolled_back =
      reached && changed.find("lost " + kJournal + "\n") != std::string::npos;
  const bool opened = reached && run.status != 255;
  std::string broken;
  for (std::size_t start = 0; start < changed.size();) {
    const std::size_t end = changed.find('\n', start);
    const std::string line = changed.substr(start, end - start);
    start = end + 1;
    const std::string path = line.substr(line.find(' ') + 1);
    const bool lost = line.rfind("lost ", 0) == 0;
    if (path == kDatabaseFile && (opened || rolled_back)) continue;
    if (path == kJournal && reached && (lost || killed || journal_may_stay)) {
      continue;
    }
    broken += line + "\n";
  }
  return broken;
}

// The words that a failed run's line must hold when `fault` (an strace
// inject action: "error=EIO", say) struck: the system's reason, or for a
// card out of room the library's own words. Empty for a kill.
inline std::string cause_of(const std::string &fault) {
  if (fault == "error=ENOSPC" || fault == "error=EDQUOT") {
    return ": the card is full\n";
  }
  if (fault == "error=EIO") return "Input/output error";
  if (fault == "error=EACCES") return "Permission denied";
  return "";
}

}  // namespace vorn::testing

#endif
