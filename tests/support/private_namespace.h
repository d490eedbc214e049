// SPDX-License-Identifier: MIT
// A mount namespace of the process's own, where a test program mounts its
// card without changing the host.
#ifndef VORN_TESTS_PRIVATE_NAMESPACE_H
#define VORN_TESTS_PRIVATE_NAMESPACE_H

#include <string>

namespace vorn::testing {

// Moves the calling process, which must have one thread, into a private
// mount namespace (in a user namespace that maps root, when not root), whose
// mounts do not reach the host. Returns an empty string, or what failed.
std::string enter_private_mount_namespace();

}  // namespace vorn::testing

#endif
