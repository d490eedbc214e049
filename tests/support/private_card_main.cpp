// The entry of test programs that use a private card: it enters the private
// mount namespace before any test runs, and fails the run when it can't.
#include <gtest/gtest.h>

#include <cstdio>

#include "private_card.h"

int main(int argc, char **argv) {
  const std::string error = vorn::testing::enter_private_mount_namespace();
  if (!error.empty()) {
    std::fprintf(stderr, "cannot make a private card: %s\n", error.c_str());
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
