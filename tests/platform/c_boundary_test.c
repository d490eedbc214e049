// SPDX-License-Identifier: MIT
/* The boundary used from C: the header compiles as C and the library links
 * with C linkage. Adds, changes and reads back one entry on the card given
 * as the argument, an empty mounted directory, and removes the database
 * again. */
#define _DEFAULT_SOURCE
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "zerovora.h"

static int fail(const char *what) {
  fprintf(stderr, "%s\n", what);
  return 1;
}

static int exercise(const char *directory) {
  zerovora_global *global;
  metadata_table *wanted;
  metadata_table *found = NULL;
  int ok;

  global = zerovora_global_open(directory, ZEROVORA_OPEN_DEFAULT);
  if (global == NULL) return fail("open");
  if (zerovora_global_add_file(global, "/c", "f", 1, 2, "t", "a", "g") !=
      ZEROVORA_OK) {
    return fail("add");
  }
  wanted = metadata_table_new();
  metadata_table_add_column(wanted, ZEROVORA_COLUMN_AUTHOR);
  metadata_table_set_text(wanted, 0, "b");
  if (zerovora_global_change_file(global, "/c", "f", wanted) != ZEROVORA_OK) {
    return fail("change");
  }
  if (zerovora_global_get_file(global, "/c", "f", wanted, &found) !=
      ZEROVORA_OK) {
    return fail("get");
  }
  ok = strcmp(metadata_table_get_text(found, 0), "b") == 0;
  metadata_table_free_impl(found);
  metadata_table_free_impl(wanted);
  zerovora_close(global);
  return ok ? 0 : fail("the changed author did not read back");
}

int main(int argc, char **argv) {
  int result;

  if (argc != 3) return fail("usage: c_boundary_test CARD DATABASE-FILE");
  result = exercise(argv[1]);
  if (unlink(argv[2]) != 0) return fail("no database was written");
  if (rmdir(argv[1]) == 0 || errno != EBUSY)
    return fail("the card is not a mount point");
  return result;
}
