// SPDX-License-Identifier: MIT
#include "set_file_metadata.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "owners.h"
#include "zerovora.h"

namespace vorn {
namespace {

// The file's status, read through "<directory>/<name>", or the errno of the
// failed read.
struct FileStatus {
  int error = 0;
  std::int64_t size = 0;
  std::int64_t mtime = 0;
};

FileStatus read_status(const gchar *directory, const gchar *name) {
  const GlibString status_path(g_strdup_printf("%s/%s", directory, name));
#if defined(SYS_statx) && defined(STATX_MTIME)
  if constexpr (sizeof(time_t) < 8) {
    // A 32-bit time_t can't hold a time after 19 January 2038: the C
    // library's stat then fails with EOVERFLOW or, before glibc 2.33, wraps
    // the time round. The kernel's statx gives the 64-bit time on any C
    // library; only a kernel without it (before Linux 4.11, which keeps
    // 32-bit times itself) leaves stat to answer.
    struct statx sx {};
    if (syscall(SYS_statx, AT_FDCWD, status_path.get(), 0,
                STATX_SIZE | STATX_MTIME, &sx) == 0) {
      return {0, static_cast<std::int64_t>(sx.stx_size),
              static_cast<std::int64_t>(sx.stx_mtime.tv_sec)};
    }
    if (errno != ENOSYS) return {errno, 0, 0};
  }
#endif
  struct stat st {};
  if (stat(status_path.get(), &st) != 0) return {errno, 0, 0};
  return {0, static_cast<std::int64_t>(st.st_size),
          static_cast<std::int64_t>(st.st_mtime)};
}

// Returns 0 when the database holds an entry for the file. The values that
// the lookup hands back are released unread.
int look_up(zerovora_global *global, const gchar *directory,
            const gchar *name) {
  MetadataTable returned;
  const MetadataTable wanted(metadata_table_new());
  if (!wanted) return ZEROVORA_ERROR_NO_MEMORY;
  int result = metadata_table_add_column(wanted.get(), ZEROVORA_COLUMN_TAG);
  if (result != 0) return result;
  metadata_table *out = nullptr;
  result =
      zerovora_global_get_file(global, directory, name, wanted.get(), &out);
  returned.reset(std::exchange(out, nullptr));
  return result;
}

// Changes the tag, title and author of the entry. The columns are added and
// filled in order, stopping at the first failure, so that a value can never
// land in another column's position.
int change_entry(zerovora_global *global, const gchar *directory,
                 const gchar *name, const char *title, const char *author,
                 const char *tag) {
  const MetadataTable values(metadata_table_new());
  if (!values) return ZEROVORA_ERROR_NO_MEMORY;
  const char *const columns[] = {ZEROVORA_COLUMN_TAG, ZEROVORA_COLUMN_TITLE,
                                 ZEROVORA_COLUMN_AUTHOR};
  for (const char *column : columns) {
    const int result = metadata_table_add_column(values.get(), column);
    if (result != 0) return result;
  }
  const char *const texts[] = {tag, title, author};
  for (int position = 0; position < 3; ++position) {
    const int result =
        metadata_table_set_text(values.get(), position, texts[position]);
    if (result != 0) return result;
  }
  return zerovora_global_change_file(global, directory, name, values.get());
}

// Writes "vorn: PATH: CAUSE" as one line on standard error. The path's
// control bytes, DEL and backslashes are written as \xHH: a file name may
// come from a card, and must not reach a terminal as it is.
void say(const char *path, const char *cause) {
  // Each byte of the path takes at most four.
  const CString printable(
      static_cast<char *>(std::malloc(std::strlen(path) * 4 + 1)));
  if (!printable) {
    std::fprintf(stderr, "vorn: %s\n", cause);
    return;
  }
  char *out = printable.get();
  for (const char *c = path; *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte < 0x20 || byte == 0x7f || byte == '\\') {
      out += std::sprintf(out, "\\x%02x", byte);
    } else {
      *out++ = *c;
    }
  }
  *out = '\0';
  std::fprintf(stderr, "vorn: %s: %s\n", printable.get(), cause);
}

// Writes why `path` names no file entry and returns true, or returns false
// when it names one.
bool refuse_file_name(const char *path) {
  const std::size_t length = std::strlen(path);
  if (length == 0) {
    std::fputs("vorn: the file name is empty\n", stderr);
    return true;
  }
  if (path[length - 1] == '/') {
    say(path, "a name ending in '/' names no file");
    return true;
  }
  return false;
}

// True when a file system is mounted at `directory`: it is the root of a
// mount, as the kernel tells since Linux 5.8 (a bind mount counts), or
// else (an older kernel, or one without statx, before Linux 4.11) it lies
// on another device than its parent.
bool is_mounted(const char *directory) {
#if defined(SYS_statx) && defined(STATX_ATTR_MOUNT_ROOT)
  // Left as zeros by a call that fails, which tells nothing then.
  struct statx sx {};
  syscall(SYS_statx, AT_FDCWD, directory, 0, 0, &sx);
  if ((sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0) {
    return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  }
#endif
  struct stat self {};
  struct stat parent {};
  const GlibString up(g_strdup_printf("%s/..", directory));
  return stat(directory, &self) == 0 && stat(up.get(), &parent) == 0 &&
         self.st_dev != parent.st_dev;
}

}  // namespace

int set_file_metadata(const char *path, const char *title, const char *author,
                      const char *tag) {
  if (refuse_file_name(path)) return kResultNotAFileName;
  const GlibString directory(g_path_get_dirname(path));
  const GlibString name(g_path_get_basename(path));
  const GlobalDatabase global(
      zerovora_global_open(kMediaRoot, ZEROVORA_OPEN_DEFAULT));
  if (!global) {
    std::printf("failed to open globaldb.");
    // The commonest cause on a device, where the library may say nothing.
    // Any other cause is the library's to tell.
    if (!is_mounted(kMediaRoot)) say(kMediaRoot, "no card is mounted there");
    return kResultDatabaseUnavailable;
  }
  const FileStatus status = read_status(directory.get(), name.get());
  if (look_up(global.get(), directory.get(), name.get()) == 0) {
    return change_entry(global.get(), directory.get(), name.get(), title,
                        author, tag);
  }
  if (status.error != 0) {
    const GlibString cause(g_strdup_printf(
        "%s; the lookup found no entry for it, so none was added",
        std::strerror(status.error)));
    say(path, cause.get());
    return kResultFileUnreadable;
  }
  return zerovora_global_add_file(global.get(), directory.get(), name.get(),
                                  status.size, status.mtime, title, author,
                                  tag);
}

}  // namespace vorn
