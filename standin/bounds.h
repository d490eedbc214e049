// SPDX-License-Identifier: MIT
// The stand-in's own bounds, beyond what the boundary (zerovora.h) asks of
// any libzerovora.so.0.
#ifndef ZEROVORA_BOUNDS_H
#define ZEROVORA_BOUNDS_H

#include <cstdint>

namespace zerovora {

// The longest entry, in bytes, that the library reads or writes: its key
// and its values together. Writing a longer one, or looking up a longer key,
// is ZEROVORA_ERROR_ARGUMENT; a stored entry with a longer value (only a
// database prepared elsewhere holds one) is found without its values being
// handed back, and a change may replace them. Command-line values are far
// shorter (the kernel allows one argument 128 KiB), so that no value from
// vorn's command line meets the limit.
inline constexpr int kMaxEntryLength = 1024 * 1024;

// SQLite's heap in a process that uses the library, set at the first open
// unless the process has set a bound of its own: an ordinary run needs
// about 3 MiB (the page cache, the schema, the statements), and no database
// file can make a lookup load an oversized key into memory (such a lookup
// fails with ZEROVORA_ERROR_NO_MEMORY).
inline constexpr std::int64_t kHeapLimit = 16 * 1024 * 1024;

// How long a call waits for other processes that hold the database: long
// enough for a burst of concurrent runs on a slow card to queue up.
inline constexpr int kBusyTimeoutMs = 10000;

}  // namespace zerovora

#endif
