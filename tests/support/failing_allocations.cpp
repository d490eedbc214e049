// SPDX-License-Identifier: MIT
#include "failing_allocations.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" void *__libc_malloc(std::size_t size);

namespace vorn::testing {
namespace {

std::atomic<long> to_go{0};
std::atomic<std::size_t> failing_size{0};
std::atomic<bool> failed{false};

}  // namespace

void fail_allocation(long nth) {
  failed = false;
  to_go = nth;
}

void fail_allocations_of_size(std::size_t size) {
  failed = false;
  failing_size = size;
}

bool allocation_failed() { return failed; }

}  // namespace vorn::testing

#ifdef VORN_FAILING_ALLOCATIONS
// Memory from here is the C library's own, freed by its free and realloc.
extern "C" void *malloc(std::size_t size) {
  using vorn::testing::failed;
  using vorn::testing::failing_size;
  using vorn::testing::to_go;
  if ((to_go > 0 && --to_go == 0) || (size != 0 && size == failing_size)) {
    failed = true;
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}
#endif
