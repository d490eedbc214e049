// SPDX-License-Identifier: MIT
// Fails one chosen allocation of the process: the test binary's malloc
// takes the place of the C library's for every library that it loads, the
// stand-in's C++ allocations included. Not in sanitized builds, whose
// runtime owns malloc (kFailingAllocations is false there).
#ifndef VORN_TESTS_FAILING_ALLOCATIONS_H
#define VORN_TESTS_FAILING_ALLOCATIONS_H

#include <cstddef>

namespace vorn::testing {

#ifdef VORN_FAILING_ALLOCATIONS
inline constexpr bool kFailingAllocations = true;
#else
inline constexpr bool kFailingAllocations = false;
#endif

// Makes the `nth` allocation from now on fail (0: none).
void fail_allocation(long nth);

// Makes every allocation of exactly `size` bytes fail (0: none), so that
// one allocation is failed among others that must not (GLib's end the
// process when they fail).
void fail_allocations_of_size(std::size_t size);

// True once the allocation chosen by fail_allocation has failed.
bool allocation_failed();

}  // namespace vorn::testing

#endif
