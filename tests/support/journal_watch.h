// Watches the card's directory for the journal that a write creates at its
// start and deletes when it commits.
#ifndef VORN_TESTS_JOURNAL_WATCH_H
#define VORN_TESTS_JOURNAL_WATCH_H

#include <sys/inotify.h>
#include <sys/types.h>

#include <cstdint>

namespace vorn::testing {

class JournalWatch {
 public:
  JournalWatch();
  ~JournalWatch();
  JournalWatch(const JournalWatch &) = delete;
  JournalWatch &operator=(const JournalWatch &) = delete;

  // Wait until the journal is created or deleted (true), or until `pid`
  // has ended or a minute has passed (false).
  bool wait_created(pid_t pid) { return wait_for(IN_CREATE, pid); }
  bool wait_deleted(pid_t pid) { return wait_for(IN_DELETE, pid); }

 private:
  bool wait_for(std::uint32_t mask, pid_t pid);

  int fd_;
};

}  // namespace vorn::testing

#endif
