// SPDX-License-Identifier: MIT
// Watches the card's directory for the journal that a write creates at its
// start and deletes when it commits.
#ifndef VORN_TESTS_JOURNAL_WATCH_H
#define VORN_TESTS_JOURNAL_WATCH_H

#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "private_card.h"

namespace vorn::testing {

class JournalWatch {
 public:
  JournalWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    inotify_add_watch(fd_, kCard.c_str(), IN_CREATE | IN_DELETE);
  }
  ~JournalWatch() { close(fd_); }
  JournalWatch(const JournalWatch &) = delete;
  JournalWatch &operator=(const JournalWatch &) = delete;

  // Wait until the journal is created or deleted (true), or until `pid`
  // has ended or a minute has passed (false).
  bool wait_created(pid_t pid) { return wait_for(IN_CREATE, pid); }
  bool wait_deleted(pid_t pid) { return wait_for(IN_DELETE, pid); }

 private:
  bool wait_for(std::uint32_t mask, pid_t pid) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(60);
    alignas(inotify_event) char buffer[4096];
    while (std::chrono::steady_clock::now() < deadline) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      for (ssize_t at = 0; at < n;) {
        const auto *event =
            reinterpret_cast<const inotify_event *>(buffer + at);
        if ((event->mask & mask) != 0 && event->len > 0 &&
            kJournal == kCard + "/" + event->name) {
          return true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
      siginfo_t info{};
      if (n <= 0 &&
          waitid(P_PID, static_cast<id_t>(pid), &info,
                 WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid) {
        return false;
      }
      std::this_thread::yield();
    }
    return false;
  }

  int fd_;
};

}  // namespace vorn::testing

#endif
