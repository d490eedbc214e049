// SPDX-License-Identifier: MIT
#include "private_card.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "private_namespace.h"
#include "process.h"

namespace vorn::testing {
namespace {

std::string failure(const char *what) {
  return std::string(what) + ": " + std::strerror(errno);
}

// Entered before main, while the test program has one thread.
const std::string namespace_error = enter_private_mount_namespace();

// The SD card's partition, and how it is formatted; empty for a tmpfs card.
const std::string card_setting =
    std::getenv("VORN_TEST_CARD") ? std::getenv("VORN_TEST_CARD") : "";
const std::string card_device = card_setting.substr(card_setting.find(':') + 1);

}  // namespace

std::string card_format() {
  return card_setting.empty() ? "tmpfs"
                              : card_setting.substr(0, card_setting.find(':'));
}

void PrivateCardTest::SetUp() {
  ASSERT_EQ(namespace_error, "")
      << "no private mount namespace, where the card would be mounted";
  ASSERT_EQ(mount("card", kMedia, "tmpfs", 0, "mode=0755,size=64m"), 0)
      << failure("mounting a tmpfs over /media");
  ASSERT_EQ(mkdir(kCard.c_str(), 0755), 0)
      << failure("creating the media root");
  if (!fat_card()) {
    ASSERT_EQ(mount("card", kCard.c_str(), "tmpfs", 0, "mode=0755,size=64m"), 0)
        << failure("mounting the card");
    return;
  }
  const bool fat32 = card_format() == "fat32";
  ASSERT_TRUE(fat32 || card_format() == "exfat")
      << "VORN_TEST_CARD is FORMAT:DEVICE, with fat32 or exfat";
  const auto made = run_process(
      fat32 ? std::vector<std::string>{"mkfs.vfat", "-F", "32", card_device}
            : std::vector<std::string>{"mkfs.exfat", card_device},
      {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"});
  ASSERT_EQ(made.status, 0) << "formatting " << card_device << ": " << made.err;
  ASSERT_EQ(mount(card_device.c_str(), kCard.c_str(), fat32 ? "vfat" : "exfat",
                  0, nullptr),
            0)
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
