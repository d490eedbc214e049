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

namespace zerovora {
namespace {

// A file opened through the card's VFS: SQLite's handle, followed in the
// same allocation by the default VFS's handle for the same file.
struct CardFile {
  sqlite3_file base;
  sqlite3_file *inner;
};
constexpr std::size_t kInnerOffset =
    (sizeof(CardFile) + alignof(std::max_align_t) - 1) /
    alignof(std::max_align_t) * alignof(std::max_align_t);

sqlite3_file *inner_file(sqlite3_file *file) {
  return reinterpret_cast<CardFile *>(file)->inner;
}

// A method of sqlite3_io_methods that hands the call on to the inner file.
template <auto Method>
struct Forward;
template <typename Result, typename... Args,
          Result (*sqlite3_io_methods::*Method)(sqlite3_file *, Args...)>
struct Forward<Method> {
  static Result call(sqlite3_file *file, Args... args) {
    sqlite3_file *inner = inner_file(file);
    return (inner->pMethods->*Method)(inner, args...);
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
    Forward<&sqlite3_io_methods::xSectorSize>::call,
    Forward<&sqlite3_io_methods::xDeviceCharacteristics>::call,
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
    inner->pMethods = nullptr;
    const int rc = c.inner_->xOpen(c.inner_, name, inner,
                                   flags | SQLITE_OPEN_NOFOLLOW, out_flags);
    if (rc != SQLITE_OK) {
      if (inner->pMethods != nullptr) inner->pMethods->xClose(inner);
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
    if (fd < 0) return errno == ENOSPC || errno == EDQUOT;
    close(fd);
    unlink(path);
    return false;
  }

  static int remove(sqlite3_vfs *vfs, const char *name, int sync_directory) {
    const CardVfs &c = card(vfs);
    if (c.journal_ != name) return SQLITE_IOERR_DELETE;
    return c.inner_->xDelete(c.inner_, name, sync_directory);
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
  vfs_.xFullPathname = Methods::Forward<&sqlite3_vfs::xFullPathname>::call;
  vfs_.xRandomness = Methods::Forward<&sqlite3_vfs::xRandomness>::call;
  vfs_.xSleep = Methods::Forward<&sqlite3_vfs::xSleep>::call;
  vfs_.xCurrentTime = Methods::Forward<&sqlite3_vfs::xCurrentTime>::call;
  vfs_.xGetLastError = Methods::Forward<&sqlite3_vfs::xGetLastError>::call;
  vfs_.xCurrentTimeInt64 =
      Methods::Forward<&sqlite3_vfs::xCurrentTimeInt64>::call;
}

std::unique_ptr<CardVfs> CardVfs::make(const std::string &path) {
  sqlite3_vfs *inner = sqlite3_vfs_find(nullptr);
  if (inner == nullptr || inner->iVersion < 2) return nullptr;
  // The name that SQLite gives the file, which it compares with; a path
  // through a symbolic link is refused.
  const auto full = std::make_unique<char[]>(inner->mxPathname + 1);
  if (inner->xFullPathname(inner, path.c_str(), inner->mxPathname + 1,
                           full.get()) != SQLITE_OK) {
    return nullptr;
  }
  std::unique_ptr<CardVfs> vfs(new CardVfs(inner, full.get()));
  if (sqlite3_vfs_register(&vfs->vfs_, 0) != SQLITE_OK) return nullptr;
  vfs->registered_ = true;
  return vfs;
}

CardVfs::~CardVfs() {
  if (registered_) sqlite3_vfs_unregister(&vfs_);
}

}  // namespace zerovora
