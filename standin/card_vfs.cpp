// SPDX-License-Identifier: MIT
#include "card_vfs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "failure.h"

namespace zerovora {
namespace {

// A file opened through the card's VFS: SQLite's handle, followed in the
// same allocation by the default VFS's handle for the same file.
struct CardFile {
  sqlite3_file base;
  sqlite3_file *inner;
  int *last_error;  // the VFS's
};
constexpr std::size_t kInnerOffset =
    (sizeof(CardFile) + alignof(std::max_align_t) - 1) /
    alignof(std::max_align_t) * alignof(std::max_align_t);

// True when `rc` is an I/O error of the call just made, whose reason is in
// errno (a short read is none: SQLite reads past a file's end on purpose).
bool is_io_error(int rc) {
  return (rc & 0xff) == SQLITE_IOERR && rc != SQLITE_IOERR_SHORT_READ;
}

// A method of sqlite3_io_methods that hands the call on to the inner file,
// keeping the reason of a call that failed with an I/O error for SQLite to
// ask for: by the time it asks, its rollback's calls have changed errno.
// (The sector size and the device's characteristics are no results.)
template <auto Method, bool kIsResult = true>
struct Forward;
template <bool kIsResult, typename Result, typename... Args,
          Result (*sqlite3_io_methods::*Method)(sqlite3_file *, Args...)>
struct Forward<Method, kIsResult> {
  static Result call(sqlite3_file *file, Args... args) {
    auto *card = reinterpret_cast<CardFile *>(file);
    const Result rc = (card->inner->pMethods->*Method)(card->inner, args...);
    if constexpr (kIsResult) {
      if (is_io_error(rc)) *card->last_error = errno;
    }
    return rc;
  }
};

// Version 1: the methods of shared memory and memory mapping, which a
// write-ahead log needs, are not offered.
const sqlite3_io_methods kFileMethods = {
    1, Forward<&sqlite3_io_methods::xClose>::call,
    Forward<&sqlite3_io_methods::xRead>::call,
    Forward<&sqlite3_io_methods::xWrite>::call,
    Forward<&sqlite3_io_methods::xTruncate>::call,
    Forward<&sqlite3_io_methods::xSync>::call,
    Forward<&sqlite3_io_methods::xFileSize>::call,
    Forward<&sqlite3_io_methods::xLock>::call,
    Forward<&sqlite3_io_methods::xUnlock>::call,
    Forward<&sqlite3_io_methods::xCheckReservedLock>::call,
    Forward<&sqlite3_io_methods::xFileControl>::call,
    Forward<&sqlite3_io_methods::xSectorSize, false>::call,
    Forward<&sqlite3_io_methods::xDeviceCharacteristics, false>::call,
    // xShmMap, xShmLock, xShmBarrier, xShmUnmap, xFetch, xUnfetch
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace

// The VFS's methods, with access to the card's two paths.
struct CardVfsMethods {
  static const CardVfs &card(sqlite3_vfs *vfs) {
    return *static_cast<const CardVfs *>(vfs->pAppData);
  }

  static int open(sqlite3_vfs *vfs, const char *name, sqlite3_file *file,
                  int flags, int *out_flags) {
    file->pMethods = nullptr;
    const CardVfs &c = card(vfs);
    const bool allowed =
        name != nullptr &&
        (((flags & SQLITE_OPEN_MAIN_DB) != 0 && c.database_ == name) ||
         ((flags & SQLITE_OPEN_MAIN_JOURNAL) != 0 && c.journal_ == name));
    if (!allowed) return SQLITE_CANTOPEN;
    sqlite3_file *inner = reinterpret_cast<sqlite3_file *>(
        reinterpret_cast<unsigned char *>(file) + kInnerOffset);
    reinterpret_cast<CardFile *>(file)->inner = inner;
    reinterpret_cast<CardFile *>(file)->last_error = &c.last_error_;
    inner->pMethods = nullptr;
    const int rc = c.inner_->xOpen(c.inner_, name, inner,
                                   flags | SQLITE_OPEN_NOFOLLOW, out_flags);
    if (rc != SQLITE_OK) {
      c.last_error_ = errno;
      // A VFS may leave a file to close behind a failed open; the default
      // one never does.
      if (inner->pMethods != nullptr) {  // GCOVR_EXCL_BR_LINE
        inner->pMethods->xClose(inner);
      }
      // Only a journal being made under the write lock is tried again: one
      // opened to be read may be another writer's, being made now.
      const bool creates_journal = (flags & SQLITE_OPEN_MAIN_JOURNAL) != 0 &&
                                   (flags & SQLITE_OPEN_CREATE) != 0;
      return creates_journal && no_room_for(name) ? SQLITE_FULL : rc;
    }
    file->pMethods = &kFileMethods;
    return SQLITE_OK;
  }

  // True when no file can be made at `path` for want of room: no free
  // space, inode or directory entry (a full root directory on FAT). The
  // default VFS retries a journal that it can't make read-only, and loses
  // the reason; the journal is tried again here, and removed again when it
  // could be made after all (the caller holds the write lock, so no other
  // process makes it meanwhile).
  static bool no_room_for(const char *path) {
    const int fd = ::open(
        path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return is_out_of_room(errno);
    close(fd);
    unlink(path);
    return false;
  }

  static int remove(sqlite3_vfs *vfs, const char *name, int sync_directory) {
    const CardVfs &c = card(vfs);
    if (c.journal_ != name) return SQLITE_IOERR_DELETE;
    // The folder's sync, after the journal went, fails as an I/O error too.
    const int rc = c.inner_->xDelete(c.inner_, name, sync_directory);
    if (is_io_error(rc)) c.last_error_ = errno;
    return rc;
  }

  static int access(sqlite3_vfs *vfs, const char *name, int flags,
                    int *result) {
    const CardVfs &c = card(vfs);
    if (c.database_ != name && c.journal_ != name) {
      *result = 0;
      return SQLITE_OK;
    }
    return c.inner_->xAccess(c.inner_, name, flags, result);
  }

  // SQLite's name for a file; a failure's reason is kept, as for files.
  static int full_pathname(sqlite3_vfs *vfs, const char *name, int size,
                           char *out) {
    const CardVfs &c = card(vfs);
    const int rc = c.inner_->xFullPathname(c.inner_, name, size, out);
    if (rc != SQLITE_OK) c.last_error_ = errno;
    return rc;
  }

  // The reason of the last failed call, kept by the files' methods.
  static int last_error(sqlite3_vfs *vfs, int, char *) {
    return card(vfs).last_error_;
  }

  // A method of sqlite3_vfs that hands the call on to the default VFS.
  template <auto Method>
  struct Forward;
  template <typename Result, typename... Args,
            Result (*sqlite3_vfs::*Method)(sqlite3_vfs *, Args...)>
  struct Forward<Method> {
    static Result call(sqlite3_vfs *vfs, Args... args) {
      sqlite3_vfs *inner = card(vfs).inner_;
      return (inner->*Method)(inner, args...);
    }
  };
};

CardVfs::CardVfs(sqlite3_vfs *inner, std::string database)
    : inner_(inner),
      database_(std::move(database)),
      journal_(database_ + "-journal"),
      name_("zerovora-card-" +
            std::to_string(reinterpret_cast<std::uintptr_t>(this))) {
  // Version 2, without the methods of loadable extensions, which are never
  // enabled.
  vfs_.iVersion = 2;
  vfs_.szOsFile = static_cast<int>(kInnerOffset) + inner->szOsFile;
  vfs_.mxPathname = inner->mxPathname;
  vfs_.zName = name_.c_str();
  vfs_.pAppData = this;
  vfs_.xOpen = CardVfsMethods::open;
  vfs_.xDelete = CardVfsMethods::remove;
  vfs_.xAccess = CardVfsMethods::access;
  using Methods = CardVfsMethods;
  vfs_.xFullPathname = Methods::full_pathname;
  vfs_.xRandomness = Methods::Forward<&sqlite3_vfs::xRandomness>::call;
  vfs_.xSleep = Methods::Forward<&sqlite3_vfs::xSleep>::call;
  vfs_.xCurrentTime = Methods::Forward<&sqlite3_vfs::xCurrentTime>::call;
  vfs_.xGetLastError = Methods::last_error;
  vfs_.xCurrentTimeInt64 =
      Methods::Forward<&sqlite3_vfs::xCurrentTimeInt64>::call;
}

std::unique_ptr<CardVfs> CardVfs::make(const std::string &path, Failure &why) {
  why = {path, ""};
  // SQLite always has a default VFS, of version 3 since SQLite 3.7.6.
  sqlite3_vfs *inner = sqlite3_vfs_find(nullptr);
  if (inner == nullptr || inner->iVersion < 2) {  // GCOVR_EXCL_BR_START
    why.cause = "SQLite has no file system to reach it through";
    return nullptr;
  }  // GCOVR_EXCL_BR_STOP
  // The name that SQLite gives the file, which it compares with; a path
  // through a symbolic link is refused.
  const auto full = std::make_unique<char[]>(inner->mxPathname + 1);
  const int rc = inner->xFullPathname(inner, path.c_str(),
                                      inner->mxPathname + 1, full.get());
  if (rc == SQLITE_OK_SYMLINK) {
    why.cause = "SQLite can't reach it but through a link";
    return nullptr;
  }
  if (rc != SQLITE_OK) {
    why.cause = std::string("SQLite can't name it: ") + reason(errno);
    return nullptr;
  }
  // (The compiler's branches free the allocation when the constructor
  // throws; registering fails only when SQLite can't initialize.)
  auto *made = new CardVfs(inner, full.get());  // GCOVR_EXCL_BR_LINE
  std::unique_ptr<CardVfs> vfs(made);
  const int registered = sqlite3_vfs_register(&vfs->vfs_, 0);
  if (registered != SQLITE_OK) {  // GCOVR_EXCL_BR_START
    why.cause = "out of memory";
    return nullptr;
  }  // GCOVR_EXCL_BR_STOP
  return vfs;
}

// Unregistering a VFS that was never registered does nothing.
CardVfs::~CardVfs() { sqlite3_vfs_unregister(&vfs_); }

}  // namespace zerovora
