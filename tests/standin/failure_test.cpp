// SPDX-License-Identifier: MIT
// How SQLite's results become the library's codes and causes.
#include "failure.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <string>

#include "zerovora.h"

namespace vorn::testing {
namespace {

// The results that no run of the suite meets, and the cases that decide
// between two codes for one result.
TEST(FailureTest, EachResultHasItsCodeAndCause) {
  struct Case {
    int rc;
    int code;
    const char *cause;
  };
  for (const Case &c : {
           Case{SQLITE_ERROR, ZEROVORA_ERROR_IO, "failed: SQL logic error"},
           // Any constraint but the key's is a failure of the library's own.
           Case{SQLITE_CONSTRAINT_NOTNULL, ZEROVORA_ERROR_IO,
                "failed: constraint failed"},
           Case{SQLITE_CONSTRAINT_PRIMARYKEY, ZEROVORA_ERROR_EXISTS,
                "it already holds an entry for that file"},
           // Without a connection, no system error is known.
           Case{SQLITE_IOERR_WRITE, ZEROVORA_ERROR_IO,
                "failed: disk I/O error"},
       }) {
    SCOPED_TRACE(c.rc);
    const zerovora::Mapped mapped = zerovora::from_sqlite(nullptr, c.rc);
    EXPECT_EQ(mapped.code, c.code);
    EXPECT_EQ(mapped.cause, c.cause);
  }
  EXPECT_TRUE(zerovora::is_out_of_room(EDQUOT));
  EXPECT_FALSE(zerovora::is_out_of_room(EIO));
}

}  // namespace
}  // namespace vorn::testing
