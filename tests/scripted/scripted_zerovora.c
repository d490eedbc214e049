/* SPDX-License-Identifier: MIT */
/*
 * A libzerovora.so.0 of the fewest promises, for the tests: it keeps what
 * vorn relies on and nothing of what zerovora.h adds (its failures are -1,
 * it writes no line, it exports no getter, it keeps no text of a table),
 * but for the promises that ZEROVORA_SCRIPT names, comma-separated,
 * which it breaks:
 *   lookup-finds-nothing     every lookup fails
 *   add-keeps-nothing        the add answers 0 and stores nothing
 *   keys-folded              keys are matched whatever their case
 *   close-loses              the close drops what was added since the open
 *   add-fails-256            the add fails with 256, whose low byte is 0
 *   lookup-fails-with-table  a failed lookup still hands back a table
 *   new-table-fails[-N]      metadata_table_new gives null (the Nth call)
 *   add-column-fails[-N]     metadata_table_add_column fails (the Nth call)
 *   set-text-fails           metadata_table_set_text fails
 *   stdin-status-fails       fstat fails with EIO on descriptor 0, for the
 *                            program that loads the library
 * The keys are kept in DIRECTORY/.scripted-zerovora, one directory part and
 * one base name a record, each ended by a NUL. scripted_zerovora_live_tables
 * tells how many tables are not freed yet.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "zerovora.h"

struct zerovora_global {
  char *path;
  off_t size_at_open;
};
struct metadata_table {
  int count;
};

static int broken(const char *promise);
static int live_tables;

int scripted_zerovora_live_tables(void) { return live_tables; }

/* The calls counted for broken_at since ZEROVORA_SCRIPT last changed. */
static int new_table_calls;
static int add_column_calls;

/* True when ZEROVORA_SCRIPT names `promise`, or "promise-N" and this is the
 * Nth call that asks (counted in *calls) under the script as it stands. */
static int broken_at(const char *promise, int *calls) {
  static char last[256];
  const char *script = getenv("ZEROVORA_SCRIPT");
  char numbered[64];
  if (strncmp(last, script ? script : "", sizeof last - 1) != 0) {
    snprintf(last, sizeof last, "%s", script ? script : "");
    new_table_calls = add_column_calls = 0;
  }
  snprintf(numbered, sizeof numbered, "%s-%d", promise, ++*calls);
  return broken(promise) || broken(numbered);
}

static int broken(const char *promise) {
  const char *script = getenv("ZEROVORA_SCRIPT");
  size_t length = strlen(promise);
  for (; script != NULL && *script != '\0'; script += strcspn(script, ",")) {
    script += *script == ',';
    if (strncmp(script, promise, length) == 0 &&
        (script[length] == ',' || script[length] == '\0'))
      return 1;
  }
  return 0;
}

zerovora_global *zerovora_global_open(const char *directory, int flags) {
  struct stat st;
  zerovora_global *global = calloc(1, sizeof *global);
  if (global == NULL || flags != 0 ||
      asprintf(&global->path, "%s/.scripted-zerovora", directory) < 0) {
    free(global);
    return NULL;
  }
  global->size_at_open = stat(global->path, &st) == 0 ? st.st_size : 0;
  return global;
}

int zerovora_close(zerovora_global *global) {
  if (broken("close-loses")) truncate(global->path, global->size_at_open);
  free(global->path);
  free(global);
  return 0;
}

static int matches(const char *stored, const char *wanted) {
  return broken("keys-folded") ? strcasecmp(stored, wanted) == 0
                               : strcmp(stored, wanted) == 0;
}

int zerovora_global_get_file(zerovora_global *global, const char *directory,
                             const char *name, const metadata_table *table,
                             metadata_table **out) {
  struct stat st;
  FILE *file = fopen(global->path, "r");
  size_t size = file && stat(global->path, &st) == 0 ? (size_t)st.st_size : 0;
  char *keys = malloc(size + 1);
  int found = 0;
  (void)table;
  if (keys == NULL || (size > 0 && fread(keys, 1, size, file) != size))
    size = 0;
  if (file != NULL) fclose(file);
  for (size_t at = 0; at < size && !found;) {
    const char *dir = keys + at;
    const char *base = dir + strlen(dir) + 1;
    found = matches(dir, directory) && matches(base, name);
    at = (size_t)(base + strlen(base) + 1 - keys);
  }
  free(keys);
  if (broken("lookup-fails-with-table") && out != NULL) {
    *out = metadata_table_new();
    return -1;
  }
  return found && !broken("lookup-finds-nothing") ? 0 : -1;
}

int zerovora_global_add_file(zerovora_global *global, const char *directory,
                             const char *name, int64_t size, int64_t mtime,
                             const char *title, const char *author,
                             const char *tag) {
  int fd;
  int written;
  (void)size, (void)mtime, (void)title, (void)author, (void)tag;
  if (broken("add-fails-256")) return 256;
  if (broken("add-keeps-nothing")) return 0;
  /* One record, one write, appended: writers in several processes lose
   * none. */
  fd = open(global->path, O_WRONLY | O_APPEND | O_CREAT, 0644);
  written = fd >= 0 && dprintf(fd, "%s%c%s%c", directory, 0, name, 0) > 0;
  if (fd >= 0) close(fd);
  return written ? 0 : -1;
}

int zerovora_global_change_file(zerovora_global *global, const char *directory,
                                const char *name, const metadata_table *table) {
  (void)table;
  return zerovora_global_get_file(global, directory, name, table, NULL);
}

metadata_table *metadata_table_new(void) {
  metadata_table *table = broken_at("new-table-fails", &new_table_calls)
                              ? NULL
                              : calloc(1, sizeof *table);
  live_tables += table != NULL;
  return table;
}

int metadata_table_add_column(metadata_table *table, const char *name) {
  (void)name;
  if (broken_at("add-column-fails", &add_column_calls)) return -1;
  ++table->count;
  return 0;
}

int metadata_table_set_text(metadata_table *table, int position,
                            const char *text) {
  (void)text;
  return broken("set-text-fails") || position < 0 || position >= table->count
             ? -1
             : 0;
}

void metadata_table_free_impl(metadata_table *table) {
  live_tables -= table != NULL;
  free(table);
}

int fstat(int fd, struct stat *st) {
  static int (*next)(int, struct stat *);
  if (fd == 0 && broken("stdin-status-fails")) {
    errno = EIO;
    return -1;
  }
  /* Before glibc 2.33 the C library exports no fstat: its callers call
   * another name, and never this one. */
  if (next == NULL) *(void **)&next = dlsym(RTLD_NEXT, "fstat");
  if (next == NULL) {
    errno = ENOSYS;
    return -1;
  }
  return next(fd, st);
}
