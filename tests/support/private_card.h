// SPDX-License-Identifier: MIT
// A private card for tests that touch the media root: a test program that
// links this runs, from before main, in a mount namespace of its own (what
// `unshare --mount` gives, with a user namespace mapping root when not root),
// and each test gets a fresh tmpfs over /media holding the media root, with an
// empty tmpfs mounted there as the card. Nothing on the host changes.
// On the emulated device, VORN_TEST_CARD names its SD card's partition as
// FORMAT:DEVICE (fat32:/dev/mmcblk0p1 or exfat:/dev/mmcblk0p1), and each
// test's card is that partition, formatted anew.
#ifndef VORN_TESTS_PRIVATE_CARD_H
#define VORN_TESTS_PRIVATE_CARD_H

#include <gtest/gtest.h>

#include <string>

#include "card.h"
#include "set_file_metadata.h"

namespace vorn::testing {

// The folder that holds the media root, the card's own tmpfs, off the card.
inline constexpr const char *kMedia = "/media";
// The media root, where the card is mounted, and the stand-in's database
// file and journal on it, as the product names them.
inline const std::string kCard = kMediaRoot;
inline const std::string kDatabaseFile =
    kCard + "/" + zerovora::kDatabaseFileName;
inline const std::string kJournal = kDatabaseFile + "-journal";

// Bind-mounts `directory` over itself, so that it is a mount point as a
// card is; fails the test on error.
void mount_over_itself(const std::string &directory);

// The card's file system: "tmpfs", "fat32" or "exfat".
std::string card_format();

// True when the card is a FAT or exFAT file system, which holds no links,
// FIFOs or names with control bytes, and a name in any case is one file.
inline bool fat_card() { return card_format() != "tmpfs"; }

class PrivateCardTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Unmounts the card, leaving the media root an empty folder, as it is on a
  // device with no card in.
  static void take_card_out();
};

}  // namespace vorn::testing

#endif
