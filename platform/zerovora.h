/* SPDX-License-Identifier: MIT */
/*
 * zerovora: the device's global metadata database of the files on its card.
 *
 * This is the C boundary between vorn and the device library
 * libzerovora.so.0. The project builds a stand-in for that library behind
 * this header (one SQLite database file per card); on the device, the
 * device's own library takes its place at link time.
 *
 * Each function states two kinds of promise, in the words of the contract
 * suite (ptest/zerovora_contract.c) that holds a library to them:
 *   - "Contract:" what vorn relies on, which any libzerovora.so.0 must keep;
 *     a library that does not makes vorn misbehave on that device;
 *   - "Header:" what this header adds, which the project's stand-in keeps
 *     and vorn's statuses and lines reflect; another library may answer
 *     otherwise (its own failure codes, no line), and vorn still works.
 *
 * Conventions for every function below:
 *   - Contract: strings passed in are NUL-terminated byte strings of any
 *     bytes but NUL, taken byte for byte, with no trimming, conversion or
 *     validation; sizes and times are full 64-bit values. A table's texts
 *     live until the call that uses the table has returned: the library
 *     copies what it keeps longer. Using a table or a handle after it was
 *     freed or closed is undefined.
 *   - Header: results are int, ZEROVORA_OK (0) on success, otherwise one of
 *     the ZEROVORA_ERROR_* codes, small distinct positive numbers, none
 *     equal to 1 or 255. A null pointer where an object or a string is
 *     expected is ZEROVORA_ERROR_ARGUMENT, never a crash. A failed call
 *     changes nothing in the database. A failed call may say why in one
 *     line on standard error; a call that succeeds writes nothing there.
 *     (The stand-in writes "zerovora: PATH: CAUSE" for every failure but a
 *     lookup's, and says nothing when no card is mounted: its caller knows
 *     the directory.)
 */
#ifndef ZEROVORA_H
#define ZEROVORA_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Marks the library's exported functions when it is built. */
#ifndef ZEROVORA_API
#define ZEROVORA_API
#endif

/* Result codes. */

/* The call succeeded. */
#define ZEROVORA_OK 0
/* A null argument, an unknown column name, a column position out of range,
 * an empty table or a column without a value where one is needed, an
 * unknown open flag, or a value too long to store. */
#define ZEROVORA_ERROR_ARGUMENT 2
/* The database holds no entry for the given directory part and base name. */
#define ZEROVORA_ERROR_NOT_FOUND 3
/* The database already holds an entry for the given directory part and base
 * name (from zerovora_global_add_file). */
#define ZEROVORA_ERROR_EXISTS 4
/* Memory could not be allocated. */
#define ZEROVORA_ERROR_NO_MEMORY 5
/* Another process held the database for longer than the library waits
 * (several seconds). */
#define ZEROVORA_ERROR_BUSY 6
/* The card is full: the write did not fit. */
#define ZEROVORA_ERROR_FULL 7
/* The card or the database file can't be written. */
#define ZEROVORA_ERROR_READ_ONLY 8
/* The database file is damaged. */
#define ZEROVORA_ERROR_CORRUPT 9
/* Any other failure to read or write the database file. */
#define ZEROVORA_ERROR_IO 10

/* Open flags. */

/* Read-write; the database file is created on first use. */
#define ZEROVORA_OPEN_DEFAULT 0

/* Column names that a metadata table may carry. Text columns can be read and
 * changed; "size" (bytes) and "mtime" (seconds since the Unix epoch) are set
 * when an entry is added and can only be read, as decimal text. */
#define ZEROVORA_COLUMN_TAG "tag"
#define ZEROVORA_COLUMN_TITLE "title"
#define ZEROVORA_COLUMN_AUTHOR "author"
#define ZEROVORA_COLUMN_SIZE "size"
#define ZEROVORA_COLUMN_MTIME "mtime"

/* An open global database. Opaque. */
typedef struct zerovora_global zerovora_global;

/* An ordered list of named columns, each with at most one text value. A
 * column is addressed by its position, counted from 0 in the order in which
 * the columns were added. Opaque. */
typedef struct metadata_table metadata_table;

/* Opens the global database kept in `directory` (the card's root directory,
 * where the card is mounted).
 *
 * Contract: with `flags` ZEROVORA_OPEN_DEFAULT (0) and a directory where a
 * database can be kept, returns a new handle, to be closed with
 * zerovora_close; otherwise null. Entries added through one handle are
 * found through any later one, in this process or another.
 *
 * Header: any other flag is refused. The database is created on first use;
 * the directory itself is never created. Null when no card is mounted at
 * `directory`, the database can't be created or read, another process holds
 * it for longer than the library waits, or what is there is not a database
 * that this library wrote, which is then never changed. (What the project's
 * stand-in refuses, the files it touches and its bounds are in
 * docs/stand-in.md.) */
ZEROVORA_API zerovora_global *zerovora_global_open(const char *directory,
                                                   int flags);

/* Contract: closes the database and frees `global`, which must not be used
 * again; every entry added before stays. Its result is not examined.
 *
 * Header: returns ZEROVORA_OK, or ZEROVORA_ERROR_ARGUMENT when `global` is
 * null. */
ZEROVORA_API int zerovora_close(zerovora_global *global);

/* Looks up the entry for (`directory`, `name`).
 *
 * Contract: returns 0 exactly when the database holds an entry for that key,
 * compared byte for byte (another base name, another directory part, the
 * same name in another case, "." for an absolute directory part are other
 * keys), and any other value otherwise. It may set *out to a new table,
 * which then belongs to the caller, who frees it with
 * metadata_table_free_impl.
 *
 * Header: `table` names the columns wanted; it must hold at least one
 * column, and only the names listed above. Its values are not read. When
 * `out` is not null and the entry exists, *out is set to a new table with
 * the same columns, in the same order, holding the entry's values. When a
 * value asked for is longer than the library reads (only another program
 * writes one), the entry still exists and *out is left as it was, as on any
 * other result. Returns ZEROVORA_OK when the entry exists,
 * ZEROVORA_ERROR_NOT_FOUND when it does not, or another failure code. */
ZEROVORA_API int zerovora_global_get_file(zerovora_global *global,
                                          const char *directory,
                                          const char *name,
                                          const metadata_table *table,
                                          metadata_table **out);

/* Adds an entry for (`directory`, `name`) with the given size in bytes,
 * modification time in seconds since the Unix epoch, title, author and tag.
 *
 * Contract: returns 0 on success, after which the entry is found; any other
 * value is a failure code, which vorn passes on as its exit status. Writers
 * in several processes at once each get an answer, and lose no entry.
 *
 * Header: returns ZEROVORA_OK, ZEROVORA_ERROR_EXISTS when the database
 * already holds an entry for that key (it is left unchanged; of several
 * writers of one new key, one adds it), or another failure code. */
ZEROVORA_API int zerovora_global_add_file(zerovora_global *global,
                                          const char *directory,
                                          const char *name, int64_t size,
                                          int64_t mtime, const char *title,
                                          const char *author, const char *tag);

/* Sets, in the existing entry for (`directory`, `name`), each column that
 * `table` names to the table's value for it; other columns keep their
 * values.
 *
 * Contract: takes a table of "tag", "title" and "author" at positions 0, 1
 * and 2; the entry is found afterwards.
 *
 * Header: the table must hold at least one column, every column must have
 * a value, and only "tag", "title" and "author" may be named, each at most
 * once. Returns ZEROVORA_OK, ZEROVORA_ERROR_NOT_FOUND when there is no such
 * entry, or another failure code. */
ZEROVORA_API int zerovora_global_change_file(zerovora_global *global,
                                             const char *directory,
                                             const char *name,
                                             const metadata_table *table);

/* Contract: returns a new, empty table, to be freed with
 * metadata_table_free_impl, or null when memory can't be allocated. */
ZEROVORA_API metadata_table *metadata_table_new(void);

/* Contract: appends a column called `name`, without a value; returns 0 on
 * success.
 *
 * Header: the name is copied. Any name is accepted here; the database
 * operations check the names. Returns ZEROVORA_OK, ZEROVORA_ERROR_ARGUMENT
 * or ZEROVORA_ERROR_NO_MEMORY. */
ZEROVORA_API int metadata_table_add_column(metadata_table *table,
                                           const char *name);

/* Contract: sets the value of the column at `position` to `text`, replacing
 * any earlier value; returns 0 on success. Whether the text is copied is
 * the library's choice: the caller keeps it until the table has served.
 *
 * Header: the text is copied. Returns ZEROVORA_OK, ZEROVORA_ERROR_ARGUMENT
 * (null table or text, position out of range) or
 * ZEROVORA_ERROR_NO_MEMORY. */
ZEROVORA_API int metadata_table_set_text(metadata_table *table, int position,
                                         const char *text);

/* Contract: frees `table` and all that it holds, a table that a lookup
 * handed back included.
 *
 * Header: a null `table` is ignored. */
ZEROVORA_API void metadata_table_free_impl(metadata_table *table);

/* Header: the functions below are not used by vorn; they serve other
 * callers that read tables, such as the tests and tools on the device (the
 * contract suite reads values back with them where the library exports
 * them). */

/* Returns the number of columns of `table`, or -1 when `table` is null. */
ZEROVORA_API int metadata_table_get_column_count(const metadata_table *table);

/* Returns the name of the column at `position`, or null when `table` is null
 * or `position` is out of range. The string belongs to the table and lives
 * as long as the table does. */
ZEROVORA_API const char *metadata_table_get_column_name(
    const metadata_table *table, int position);

/* Returns the value of the column at `position`, or null when `table` is
 * null, `position` is out of range or the column has no value. The string
 * belongs to the table and lives until the value is set again or the table
 * is freed. */
ZEROVORA_API const char *metadata_table_get_text(const metadata_table *table,
                                                 int position);

#ifdef __cplusplus
}
#endif

#endif /* ZEROVORA_H */
