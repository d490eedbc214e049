#include "private_card.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
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

// Moves the calling process, which must have one thread, into a private
// mount namespace. Returns an empty string, or what failed.
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

// Entered before main, while the test program has one thread.
const std::string namespace_error = enter_private_mount_namespace();

}  // namespace

void PrivateCardTest::SetUp() {
  ASSERT_EQ(namespace_error, "")
      << "no private mount namespace, where the card would be mounted";
  ASSERT_EQ(mount("card", kMedia, "tmpfs", 0, "mode=0755,size=64m"), 0)
      << failure("mounting a tmpfs over /media");
  ASSERT_EQ(mkdir(kCard.c_str(), 0755), 0)
      << failure("creating the media root");
  ASSERT_EQ(mount("card", kCard.c_str(), "tmpfs", 0, "mode=0755,size=64m"), 0)
      << failure("mounting the card");
}

void PrivateCardTest::take_card_out() {
  ASSERT_EQ(umount2(kCard.c_str(), MNT_DETACH), 0)
      << failure("unmounting the card");
}

void mount_over_itself(const std::string &directory) {
  ASSERT_EQ(
      mount(directory.c_str(), directory.c_str(), nullptr, MS_BIND, nullptr), 0)
      << failure("bind-mounting a folder over itself");
}

void PrivateCardTest::TearDown() {
  // Leave the file system the test may have changed the directory into;
  // the card goes with /media.
  if (chdir("/") != 0 || umount2(kMedia, MNT_DETACH) != 0) {
    ADD_FAILURE() << failure("unmounting the card");
  }
}

}  // namespace vorn::testing
