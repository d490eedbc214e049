/* SPDX-License-Identifier: MIT */
/*
 * zerovora-contract: holds the libzerovora.so.0 that it runs with to what
 * vorn relies on, and reports which of the project header's own promises
 * it keeps. One line per check, as ptest reads them:
 *
 *   PASS: name
 *   FAIL: name: what was expected and what came
 *   SKIP: name: why
 *
 * Three sections, named by the checks' prefixes:
 *   contract.  what vorn relies on: a FAIL means that vorn misbehaves with
 *              this library;
 *   header.    what zerovora.h adds (its result codes, null arguments,
 *              refused second adds, one line on standard error per
 *              failure): a library that does not keep a promise gets a
 *              SKIP, or a FAIL with --hold-header;
 *   values.    the stored values, read back through the header's table
 *              getters where the library exports them (found at run time).
 *
 * Usage: zerovora-contract [--hold-header] [--media-root] DIRECTORY
 *
 * DIRECTORY is a scratch directory where a database can be kept (for the
 * project's stand-in, the root of a mounted file system). The media root is
 * refused unless --media-root is given: nothing can remove an entry, so the
 * suite must not write into a device's own database. Every key that it adds
 * lies under a directory part of its own ("/zerovora-contract-PID-TIME"), so
 * that runs never meet. Exits 0 when no check failed, 1 when one did, 2 on a
 * usage error.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "zerovora.h"

#define MEDIA_ROOT "/media/mmcblk0p1"
#define WRITERS 8
#define LARGE (64 * 1024)
#define MAX_KEYS 64

static const char *directory;
static int hold_header;
static int failures;

/* The keys added so far, each found again after a reopen. */
static char added_directories[MAX_KEYS][128];
static const char *added_names[MAX_KEYS];
static int added_count;

/* The directory part under which this run adds its keys. */
static char base[64];

/* The table getters, when the library exports them. */
static int (*get_column_count)(const metadata_table *);
static const char *(*get_text)(const metadata_table *, int);

static void report(const char *kind, const char *name, const char *format,
                   va_list args) {
  printf("%s: %s", kind, name);
  if (format != NULL) {
    printf(": ");
    vprintf(format, args);
  }
  printf("\n");
  fflush(stdout);
}

static void pass(const char *name) {
  printf("PASS: %s\n", name);
  fflush(stdout);
}

static void fail(const char *name, const char *format, ...) {
  va_list args;
  va_start(args, format);
  report("FAIL", name, format, args);
  va_end(args);
  ++failures;
}

static void skip(const char *name, const char *format, ...) {
  va_list args;
  va_start(args, format);
  report("SKIP", name, format, args);
  va_end(args);
}

/* A promise of the header that the library does not keep. */
static void not_kept(const char *name, const char *format, ...) {
  va_list args;
  va_start(args, format);
  if (hold_header) {
    report("FAIL", name, format, args);
    ++failures;
  } else {
    printf("SKIP: %s: not part of what vorn relies on: ", name);
    vprintf(format, args);
    printf("\n");
    fflush(stdout);
  }
  va_end(args);
}

/* `sub` under this run's directory part, in a buffer of the caller's. */
static const char *under_base(char *buffer, size_t size, const char *sub) {
  snprintf(buffer, size, "%s%s", base, sub);
  return buffer;
}

/* Looks (dir, name) up with a table that asks for the tag; frees what the
 * lookup hands back. *handed_back tells whether it handed back a table
 * other than the one asked with (null: not asked), and -1 when it handed
 * back the asked table itself. */
static int lookup(zerovora_global *global, const char *dir, const char *name,
                  int *handed_back) {
  metadata_table *wanted = metadata_table_new();
  metadata_table *out = NULL;
  int result;
  if (wanted == NULL || metadata_table_add_column(wanted, "tag") != 0) {
    metadata_table_free_impl(wanted);
    return -1;
  }
  result = zerovora_global_get_file(global, dir, name, wanted, &out);
  if (handed_back != NULL) *handed_back = out == wanted ? -1 : out != NULL;
  if (out != NULL && out != wanted) metadata_table_free_impl(out);
  metadata_table_free_impl(wanted);
  return result;
}

static int add(zerovora_global *global, const char *dir, const char *name,
               int64_t size, int64_t mtime, const char *title,
               const char *author, const char *tag) {
  int result = zerovora_global_add_file(global, dir, name, size, mtime, title,
                                        author, tag);
  if (result == 0 && added_count < MAX_KEYS) {
    snprintf(added_directories[added_count], sizeof added_directories[0], "%s",
             dir);
    added_names[added_count++] = name;
  }
  return result;
}

/* Adds (dir, name) and checks that it is found then, as check `check`. */
static void add_and_find(zerovora_global *global, const char *check,
                         const char *dir, const char *name, int64_t size,
                         int64_t mtime, const char *title, const char *author,
                         const char *tag) {
  int result = add(global, dir, name, size, mtime, title, author, tag);
  if (result != 0) {
    fail(check, "expected the add to answer 0, got %d", result);
  } else if ((result = lookup(global, dir, name, NULL)) != 0) {
    fail(check, "expected the added entry to be found (0), got %d", result);
  } else {
    pass(check);
  }
}

/* Changes (dir, name) to these values through a table of "tag", "title"
 * and "author", set at positions 0, 1 and 2; returns the change's result,
 * or -1 with *step naming the table call that failed. */
static int change(zerovora_global *global, const char *dir, const char *name,
                  const char *title, const char *author, const char *tag,
                  const char **step) {
  static const char *const columns[] = {"tag", "title", "author"};
  const char *texts[3];
  metadata_table *values = metadata_table_new();
  int result = -1;
  int i;
  texts[0] = tag;
  texts[1] = title;
  texts[2] = author;
  *step = "metadata_table_new";
  if (values == NULL) return -1;
  for (i = 0; i < 3; ++i) {
    *step = "metadata_table_add_column";
    if (metadata_table_add_column(values, columns[i]) != 0) goto done;
  }
  for (i = 0; i < 3; ++i) {
    *step = "metadata_table_set_text";
    if (metadata_table_set_text(values, i, texts[i]) != 0) goto done;
  }
  *step = NULL;
  result = zerovora_global_change_file(global, dir, name, values);
done:
  metadata_table_free_impl(values);
  return result;
}

/* Runs `call` with standard error going to a scratch file; returns how many
 * lines it wrote there, or -1 when standard error can't be caught. */
static int lines_written(void (*call)(void *), void *context) {
  FILE *caught = tmpfile();
  int saved = dup(STDERR_FILENO);
  int lines = 0;
  int c;
  if (caught == NULL || saved < 0) {
    if (caught != NULL) fclose(caught);
    if (saved >= 0) close(saved);
    return -1;
  }
  fflush(stderr);
  dup2(fileno(caught), STDERR_FILENO);
  call(context);
  fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  rewind(caught);
  while ((c = fgetc(caught)) != EOF) lines += c == '\n';
  fclose(caught);
  return lines;
}

/* ---- What vorn relies on ---- */

/* Keys: an added key is found, the same file named otherwise is not. */
static void check_keys(zerovora_global *global) {
  /* Each other key: a directory (relative to this run's directory part
   * when it starts with '+', as it stands otherwise) and a base name. */
  static const struct {
    const char *check;
    const char *dir;
    const char *name;
  } others[] = {
      {"contract.key-other-name", "+/books", "Other.epub"},
      {"contract.key-other-directory", "+/other", "Name.epub"},
      {"contract.key-case", "+/books", "name.epub"},
      {"contract.key-trailing-dot", "+/books", "Name.epub."},
      {"contract.key-directory-trailing-slash", "+/books/", "Name.epub"},
      {"contract.key-dot-directory", ".", "Name.epub"},
      {"contract.key-root-directory", "/", "Name.epub"},
  };
  char dir[128];
  char other[128];
  int handed_back = 0;
  int result;
  size_t i;

  under_base(dir, sizeof dir, "/books");
  result = lookup(global, dir, "Name.epub", NULL);
  if (result == 0)
    fail("contract.lookup-missing", "expected non-zero, got 0");
  else
    pass("contract.lookup-missing");
  add_and_find(global, "contract.add", dir, "Name.epub", 1, 2, "t", "a", "g");

  result = lookup(global, dir, "Name.epub", &handed_back);
  if (result != 0)
    fail("contract.out-table", "expected the entry found, got %d", result);
  else if (handed_back < 0)
    fail("contract.out-table",
         "expected a table of the caller's own, got the lookup table back");
  else
    pass("contract.out-table");

  for (i = 0; i < sizeof others / sizeof others[0]; ++i) {
    const char *key_dir = others[i].dir;
    if (key_dir[0] == '+')
      key_dir = under_base(other, sizeof other, key_dir + 1);
    result = lookup(global, key_dir, others[i].name, NULL);
    if (result == 0)
      fail(others[i].check, "expected non-zero for (%s, %s), got 0", key_dir,
           others[i].name);
    else
      pass(others[i].check);
  }
}

/* Names and values of any bytes but NUL; sizes and times of 64 bits. */
static char large[LARGE + 1];
static char control[40];

static void check_bytes(zerovora_global *global) {
  char dir[128];
  int i;
  int n = 0;
  for (i = 1; i < 32; ++i) control[n++] = (char)i;
  control[n++] = 0x7f;
  control[n] = '\0';
  memset(large, 'L', LARGE);
  large[LARGE] = '\0';
  under_base(dir, sizeof dir, "/bytes");
  add_and_find(global, "contract.bytes-utf8", dir,
               "\xc3\xa9t\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x93\x96", 1, 2,
               "\xc3\x89t\xc3\xa9", "\xe6\x9d\x8e", "\xf0\x9f\x93\x96");
  add_and_find(global, "contract.bytes-control", dir, control + 1, 1, 2,
               control, control, control);
  add_and_find(global, "contract.bytes-empty-values", dir, "empty", 1, 2, "",
               "", "");
  add_and_find(global, "contract.bytes-64k-values", dir, "large", 1, 2, large,
               large, large);
  add_and_find(global, "contract.64-bit-size", dir, "size", INT64_MAX, 2, "t",
               "a", "g");
  add_and_find(global, "contract.64-bit-time-past-2038", dir, "2100", 1,
               INT64_C(4102444800), "t", "a", "g");
  add_and_find(global, "contract.64-bit-time-negative", dir, "1969", 1, -1, "t",
               "a", "g");
}

/* Changes of an existing entry, with texts that live only until the call
 * that uses the table has returned, as vorn's do. */
static void check_change(zerovora_global *global) {
  char dir[128];
  char texts[3][16];
  const char *step = NULL;
  int result;
  under_base(dir, sizeof dir, "/change");
  if (add(global, dir, "f", 12, 34, "t", "a", "g") != 0) {
    fail("contract.change", "expected the entry to change added, it was not");
    return;
  }
  strcpy(texts[0], "new tag");
  strcpy(texts[1], "new title");
  strcpy(texts[2], "new author");
  result = change(global, dir, "f", texts[1], texts[2], texts[0], &step);
  memset(texts, 'x', sizeof texts);
  if (step != NULL)
    fail("contract.change", "expected %s to answer 0, it did not", step);
  else if ((result = lookup(global, dir, "f", NULL)) != 0)
    fail("contract.change", "expected the changed entry found, got %d", result);
  else
    pass("contract.change");
}

/* ---- What the project's header adds ---- */

struct call {
  zerovora_global *global;
  const char *dir;
  int result;
};

static void second_add(void *context) {
  struct call *call = context;
  call->result = zerovora_global_add_file(call->global, call->dir, "twice", 5,
                                          6, "other", "other", "other");
}

static void change_missing(void *context) {
  struct call *call = context;
  const char *step = NULL;
  call->result = change(call->global, call->dir, "never", "t", "a", "g", &step);
}

static void successes(void *context) {
  struct call *call = context;
  const char *step = NULL;
  zerovora_global *again;
  call->result = add(call->global, call->dir, "quiet", 1, 2, "t", "a", "g");
  if (call->result == 0)
    call->result = lookup(call->global, call->dir, "quiet", NULL);
  /* A change's result is not what is asked here. */
  if (call->result == 0)
    change(call->global, call->dir, "quiet", "T", "A", "G", &step);
  again = zerovora_global_open(directory, ZEROVORA_OPEN_DEFAULT);
  if (again == NULL && call->result == 0) call->result = -1;
  if (again != NULL) zerovora_close(again);
}

/* Calls each function with a null where an object or a string is expected,
 * in a process of its own, which a crash ends alone. Exits 0 when every
 * call answered ZEROVORA_ERROR_ARGUMENT (open: null), else with the number
 * of the first call that did not. */
static int null_calls(zerovora_global *global, const char *dir) {
  metadata_table *table = metadata_table_new();
  metadata_table *out = NULL;
  int results[12];
  int i;
  metadata_table_add_column(table, "tag");
  metadata_table_set_text(table, 0, "g");
  results[0] = zerovora_global_open(NULL, ZEROVORA_OPEN_DEFAULT) == NULL
                   ? ZEROVORA_ERROR_ARGUMENT
                   : 0;
  results[1] = zerovora_close(NULL);
  results[2] = zerovora_global_get_file(NULL, dir, "f", table, &out);
  results[3] = zerovora_global_get_file(global, NULL, "f", table, &out);
  results[4] = zerovora_global_get_file(global, dir, NULL, table, &out);
  results[5] = zerovora_global_get_file(global, dir, "f", NULL, &out);
  results[6] = zerovora_global_add_file(NULL, dir, "n", 1, 2, "t", "a", "g");
  results[7] = zerovora_global_add_file(global, dir, "n", 1, 2, NULL, "a", "g");
  results[8] = zerovora_global_change_file(NULL, dir, "f", table);
  results[9] = zerovora_global_change_file(global, dir, "f", NULL);
  results[10] = metadata_table_add_column(NULL, "tag");
  results[11] = metadata_table_set_text(table, 0, NULL);
  metadata_table_free_impl(NULL);
  for (i = 0; i < 12; ++i) {
    if (results[i] != ZEROVORA_ERROR_ARGUMENT) return i + 1;
  }
  return 0;
}

static void check_header(zerovora_global *global) {
  char dir[128];
  struct call call;
  int lines;
  int result;
  pid_t pid;
  int status = 0;

  under_base(dir, sizeof dir, "/header");
  result = lookup(global, dir, "never", NULL);
  if (result == ZEROVORA_ERROR_NOT_FOUND)
    pass("header.not-found-code");
  else
    not_kept(
        "header.not-found-code",
        "expected ZEROVORA_ERROR_NOT_FOUND (%d) for a missing entry, got %d",
        ZEROVORA_ERROR_NOT_FOUND, result);

  call.global = global;
  call.dir = dir;
  lines_written(change_missing, &call);
  result = call.result;
  if (result == ZEROVORA_ERROR_NOT_FOUND)
    pass("header.change-missing-code");
  else
    not_kept("header.change-missing-code",
             "expected ZEROVORA_ERROR_NOT_FOUND (%d) for a change of a missing "
             "entry, got %d",
             ZEROVORA_ERROR_NOT_FOUND, result);

  call.result = 0;
  if (add(global, dir, "twice", 1, 2, "t", "a", "g") != 0) {
    fail("header.exists-code", "expected the first add to answer 0");
  } else {
    lines = lines_written(second_add, &call);
    if (call.result == ZEROVORA_ERROR_EXISTS)
      pass("header.exists-code");
    else
      not_kept("header.exists-code",
               "expected ZEROVORA_ERROR_EXISTS (%d) for a second add, got %d",
               ZEROVORA_ERROR_EXISTS, call.result);
    if (call.result != 0 && lines == 1)
      pass("header.one-line-per-failure");
    else
      not_kept("header.one-line-per-failure",
               "expected one line on standard error for a refused add, got %d",
               lines);
  }

  lines = lines_written(successes, &call);
  if (call.result != 0)
    skip("header.silent-success",
         "an add, a lookup or an open failed (%d): see the contract's lines",
         call.result);
  else if (lines == 0)
    pass("header.silent-success");
  else
    not_kept("header.silent-success",
             "expected nothing on standard error from calls that succeed, got "
             "%d lines",
             lines);
  fflush(stdout);
  pid = fork();
  if (pid == 0) {
    /* Its lines are those of the null arguments: not the suite's. */
    if (freopen("/dev/null", "w", stderr) == NULL) _exit(100);
    _exit(null_calls(global, dir));
  }
  if (pid < 0 || waitpid(pid, &status, 0) != pid)
    fail("header.null-arguments", "the process to try them did not run");
  else if (WIFSIGNALED(status))
    not_kept("header.null-arguments",
             "expected ZEROVORA_ERROR_ARGUMENT (%d) for null arguments, got "
             "signal %d",
             ZEROVORA_ERROR_ARGUMENT, WTERMSIG(status));
  else if (WEXITSTATUS(status) != 0)
    not_kept("header.null-arguments",
             "expected ZEROVORA_ERROR_ARGUMENT (%d) for null arguments, got "
             "another answer from call %d",
             ZEROVORA_ERROR_ARGUMENT, WEXITSTATUS(status));
  else
    pass("header.null-arguments");
}

/* ---- The stored values, through the getters ---- */

/* Checks that the entry (dir, name) holds these values, as check `check`. */
static void expect_values(zerovora_global *global, const char *check,
                          const char *dir, const char *name, const char *size,
                          const char *mtime, const char *title,
                          const char *author, const char *tag) {
  static const char *const columns[] = {"tag", "title", "author", "size",
                                        "mtime"};
  const char *expected[5];
  metadata_table *wanted = metadata_table_new();
  metadata_table *out = NULL;
  int result;
  int i;
  expected[0] = tag;
  expected[1] = title;
  expected[2] = author;
  expected[3] = size;
  expected[4] = mtime;
  for (i = 0; i < 5; ++i) metadata_table_add_column(wanted, columns[i]);
  result = zerovora_global_get_file(global, dir, name, wanted, &out);
  if (result != 0 || out == NULL) {
    fail(check, "expected the entry handed back, got %d%s", result,
         out == NULL ? " and no table" : "");
  } else if (get_column_count(out) != 5) {
    fail(check, "expected 5 columns, got %d", get_column_count(out));
  } else {
    for (i = 0; i < 5; ++i) {
      const char *got = get_text(out, i);
      if (got == NULL || strcmp(got, expected[i]) != 0) {
        fail(check, "expected the stored %s (%zu bytes), got %zu bytes%s",
             columns[i], strlen(expected[i]), got ? strlen(got) : 0,
             got ? " that differ" : " (none)");
        break;
      }
    }
    if (i == 5) pass(check);
  }
  if (out != NULL) metadata_table_free_impl(out);
  metadata_table_free_impl(wanted);
}

static void check_values(zerovora_global *global) {
  static const char *const checks[] = {
      "values.added",       "values.64-bit",
      "values.64-bit-time", "values.control-bytes",
      "values.changed",     "values.refused-add-keeps-them"};
  char dir[128];
  size_t i;
  *(void **)&get_column_count =
      dlsym(RTLD_DEFAULT, "metadata_table_get_column_count");
  *(void **)&get_text = dlsym(RTLD_DEFAULT, "metadata_table_get_text");
  if (get_column_count == NULL || get_text == NULL) {
    for (i = 0; i < sizeof checks / sizeof checks[0]; ++i) {
      skip(checks[i],
           "the library exports no metadata_table_get_text and "
           "metadata_table_get_column_count to read values back with");
    }
    return;
  }
  expect_values(global, "values.added", under_base(dir, sizeof dir, "/bytes"),
                "large", "1", "2", large, large, large);
  expect_values(global, "values.64-bit", dir, "size", "9223372036854775807",
                "2", "t", "a", "g");
  expect_values(global, "values.64-bit-time", dir, "2100", "1", "4102444800",
                "t", "a", "g");
  expect_values(global, "values.control-bytes", dir, control + 1, "1", "2",
                control, control, control);
  expect_values(global, "values.changed",
                under_base(dir, sizeof dir, "/change"), "f", "12", "34",
                "new title", "new author", "new tag");
  expect_values(global, "values.refused-add-keeps-them",
                under_base(dir, sizeof dir, "/header"), "twice", "1", "2", "t",
                "a", "g");
}

/* ---- Across a close, and several processes at once ---- */

static void check_reopen(zerovora_global **global) {
  int i;
  int result;
  zerovora_close(*global);
  *global = zerovora_global_open(directory, ZEROVORA_OPEN_DEFAULT);
  if (*global == NULL) {
    fail("contract.reopen", "expected the database to open again, it did not");
    return;
  }
  for (i = 0; i < added_count; ++i) {
    result = lookup(*global, added_directories[i], added_names[i], NULL);
    if (result != 0) {
      fail("contract.reopen",
           "expected every entry added before the close found, got %d for "
           "entry %d of %d",
           result, i + 1, added_count);
      return;
    }
  }
  pass("contract.reopen");
}

/* Starts WRITERS processes that each open the database and add (dir, its
 * own name, or "one" for all when `same`), then close it. Each ends with
 * 0 when its add answered 0, 1 when it answered otherwise, 2 when the
 * database did not open; results[i] is that, or -1 when the writer got no
 * answer (a crash, or no answer within a minute). */
static void run_writers(const char *dir, int same, int results[WRITERS]) {
  pid_t pids[WRITERS];
  int i;
  fflush(stdout);
  for (i = 0; i < WRITERS; ++i) {
    pids[i] = fork();
    if (pids[i] == 0) {
      char name[16];
      zerovora_global *global;
      int result;
      alarm(60);
      /* The refused adds' lines are the library's, not the suite's. */
      if (freopen("/dev/null", "w", stderr) == NULL) _exit(2);
      snprintf(name, sizeof name, same ? "one" : "writer-%d", i);
      global = zerovora_global_open(directory, ZEROVORA_OPEN_DEFAULT);
      if (global == NULL) _exit(2);
      result = zerovora_global_add_file(global, dir, name, i, i, "t", "a", "g");
      zerovora_close(global);
      _exit(result == 0 ? 0 : result == ZEROVORA_ERROR_EXISTS ? 3 : 1);
    }
  }
  for (i = 0; i < WRITERS; ++i) {
    int status = 0;
    results[i] = -1;
    if (pids[i] > 0 && waitpid(pids[i], &status, 0) == pids[i] &&
        WIFEXITED(status)) {
      results[i] = WEXITSTATUS(status);
    }
  }
}

static void check_writers(zerovora_global *global) {
  char dir[128];
  char name[16];
  int results[WRITERS];
  int i;
  int result;
  int wins = 0;
  int refused = 0;

  under_base(dir, sizeof dir, "/writers");
  run_writers(dir, 0, results);
  for (i = 0; i < WRITERS; ++i) {
    snprintf(name, sizeof name, "writer-%d", i);
    result = lookup(global, dir, name, NULL);
    if (results[i] < 0 || results[i] == 2 || result != 0) break;
  }
  if (i < WRITERS)
    fail("contract.writers-distinct-keys",
         "expected %d writers at once each to store its entry, writer %d %s "
         "and its entry was %sfound",
         WRITERS, i + 1,
         results[i] < 0    ? "got no answer"
         : results[i] == 2 ? "could not open the database"
                           : "got an answer",
         result == 0 ? "" : "not ");
  else
    pass("contract.writers-distinct-keys");

  run_writers(dir, 1, results);
  for (i = 0; i < WRITERS; ++i) {
    if (results[i] < 0 || results[i] == 2) break;
    wins += results[i] == 0;
    refused += results[i] == 3;
  }
  result = lookup(global, dir, "one", NULL);
  if (i < WRITERS)
    fail("contract.writers-one-key",
         "expected %d writers of one new entry each to get an answer, writer "
         "%d %s",
         WRITERS, i + 1,
         results[i] < 0 ? "got none" : "could not open the database");
  else if (result != 0)
    fail("contract.writers-one-key",
         "expected the entry found after %d writers added it, got %d", WRITERS,
         result);
  else
    pass("contract.writers-one-key");
  if (i == WRITERS && wins == 1 && refused == WRITERS - 1)
    pass("header.one-add-wins");
  else
    not_kept("header.one-add-wins",
             "expected one of %d writers of one new entry to add it and the "
             "others ZEROVORA_ERROR_EXISTS, got %d and %d",
             WRITERS, wins, refused);
}

static int usage(void) {
  fprintf(
      stderr,
      "usage: zerovora-contract [--hold-header] [--media-root] DIRECTORY\n");
  return 2;
}

int main(int argc, char **argv) {
  zerovora_global *global;
  int media_root = 0;
  int i;
  struct stat st;
  for (i = 1; i < argc && argv[i][0] == '-'; ++i) {
    if (strcmp(argv[i], "--hold-header") == 0)
      hold_header = 1;
    else if (strcmp(argv[i], "--media-root") == 0)
      media_root = 1;
    else
      return usage();
  }
  if (i != argc - 1) return usage();
  directory = argv[i];
  if (stat(directory, &st) != 0 || !S_ISDIR(st.st_mode)) {
    fprintf(stderr, "zerovora-contract: %s: not a directory\n", directory);
    return 2;
  }
  if (!media_root) {
    struct stat root;
    if (stat(MEDIA_ROOT, &root) == 0 && root.st_dev == st.st_dev &&
        root.st_ino == st.st_ino) {
      fprintf(stderr,
              "zerovora-contract: %s is the media root, whose database keeps "
              "what the suite adds: give a scratch directory, or "
              "--media-root\n",
              directory);
      return 2;
    }
  }
  snprintf(base, sizeof base, "/zerovora-contract-%ld-%ld", (long)getpid(),
           (long)time(NULL));

  printf(
      "# What vorn relies on (contract.), what zerovora.h adds (header.),\n"
      "# the stored values (values.), on %s\n",
      directory);
  global = zerovora_global_open(directory, ZEROVORA_OPEN_DEFAULT);
  if (global == NULL) {
    fail("contract.open", "expected a handle for %s, got null", directory);
    return 1;
  }
  pass("contract.open");
  check_keys(global);
  check_bytes(global);
  check_change(global);
  check_header(global);
  check_reopen(&global);
  if (global == NULL) return 1;
  check_writers(global);
  check_values(global);
  i = zerovora_close(global);
  pass("contract.close");
  if (i == ZEROVORA_OK)
    pass("header.close-code");
  else
    not_kept("header.close-code",
             "expected ZEROVORA_OK (0) from the close, got %d", i);
  return failures == 0 ? 0 : 1;
}
