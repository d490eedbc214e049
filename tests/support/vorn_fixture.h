// SPDX-License-Identifier: MIT
// A fixture for running the built vorn as a user runs it: on a private card,
// under the X server that DISPLAY names and, for a cross build, under the
// build's emulator.
#ifndef VORN_TESTS_VORN_FIXTURE_H
#define VORN_TESTS_VORN_FIXTURE_H

#include <chrono>
#include <string>
#include <vector>

#include "private_card.h"
#include "process.h"

namespace vorn::testing {

inline const std::string kUsage = "Usage: vorn [file] [title] [author] [tag]\n";
inline const std::string kOpenFailure = "failed to open globaldb.";
inline const std::string kNoCard =
    "vorn: " + kCard + ": no card is mounted there\n";

// The progress line that vorn prints for these values.
std::string progress(const std::string &file, const std::string &title,
                     const std::string &author, const std::string &tag);

class VornTest : public PrivateCardTest {
 protected:
  void SetUp() override;

  // True when vorn runs under an emulator (a cross build).
  static bool emulated();

  // The command line that runs vorn with `args`.
  static std::vector<std::string> command(const std::vector<std::string> &args);

  // vorn's environment: the C locale, the display unless `with_display` is
  // false, and the sanitizers' options and VORN_TARGET_RUNTIME when the test
  // has them.
  std::vector<std::string> environment(bool with_display = true) const;

  // vorn's environment for a run under strace: LeakSanitizer, which can't
  // work under ptrace, is off.
  std::vector<std::string> traced_environment() const;

  // Runs vorn with `args` to its end, killing it after `limit`.
  ProcessResult vorn(
      const std::vector<std::string> &args, bool with_display = true,
      std::chrono::milliseconds limit = std::chrono::seconds(60)) const;

  // The runs of vorn with `args` that tell whether a card is in: as it
  // runs, and natively also as on a kernel without statx (before Linux
  // 4.11), whose call strace fails with ENOSYS.
  std::vector<ProcessResult> runs_with_and_without_statx(
      const std::vector<std::string> &args) const;

  std::string display_;
};

}  // namespace vorn::testing

#endif
