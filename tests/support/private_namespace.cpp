// SPDX-License-Identifier: MIT
#include "private_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn::testing {
namespace {

std::string failure(const char *what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool write_proc(const char *path, const std::string &text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok =
      write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

}  // namespace

std::string enter_private_mount_namespace() {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (uid == 0) {
    if (unshare(CLONE_NEWNS) != 0) return failure("unshare(CLONE_NEWNS)");
  } else {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
      return failure("unshare(CLONE_NEWUSER | CLONE_NEWNS)");
    }
    if (!write_proc("/proc/self/setgroups", "deny") ||
        !write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      return failure("mapping root in the user namespace");
    }
  }
  // Keep our mounts from propagating back to the host.
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return failure("making / private");
  }
  return {};
}

}  // namespace vorn::testing
