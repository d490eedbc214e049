// SPDX-License-Identifier: MIT
// The C functions of zerovora.h: argument checks, the handle, and no C++
// exception ever crossing into C.
#include "zerovora.h"

#include <new>
#include <string>
#include <utility>

#include "card.h"
#include "card_vfs.h"
#include "database_file.h"
#include "entries.h"
#include "failure.h"
#include "metadata_table_impl.h"
#include "sqlite_owners.h"

struct zerovora_global {
  // The only files that the connection reaches; it outlives the connection.
  std::unique_ptr<zerovora::CardVfs> vfs;
  zerovora::Database db;
};

extern "C" {

zerovora_global *zerovora_global_open(const char *directory, int flags) {
  if (directory == nullptr || flags != ZEROVORA_OPEN_DEFAULT) {
    zerovora::tell_invalid_argument("zerovora_global_open");
    return nullptr;
  }
  try {
    // No line for no card: the caller knows which directory it gave, and
    // says that no card is in (vorn does).
    zerovora::Failure why;
    if (!zerovora::is_card(directory, why)) {
      if (!why.cause.empty()) zerovora::tell(why);
      return nullptr;
    }
    const std::string path =
        std::string(directory) + "/" + zerovora::kDatabaseFileName;
    if (!zerovora::may_open(path, why)) {
      zerovora::tell(why);
      return nullptr;
    }
    auto vfs = zerovora::CardVfs::make(path, why);
    if (!vfs) {
      zerovora::tell(why);
      return nullptr;
    }
    auto db = zerovora::open_database(*vfs, why);
    if (!db) {
      zerovora::tell(why);
      return nullptr;
    }
    return new zerovora_global{std::move(vfs), std::move(db)};
    // GCOVR_EXCL_BR_START: the C++ allocations fail only out of memory
  } catch (const std::bad_alloc &) {
    zerovora::tell_out_of_memory();
    return nullptr;
  }  // GCOVR_EXCL_BR_STOP
}

int zerovora_close(zerovora_global *global) {
  if (global == nullptr)
    return zerovora::tell_invalid_argument("zerovora_close");
  delete global;
  return ZEROVORA_OK;
}

int zerovora_global_get_file(zerovora_global *global, const char *directory,
                             const char *name, const metadata_table *table,
                             metadata_table **out) {
  if (global == nullptr || directory == nullptr || name == nullptr ||
      table == nullptr || !zerovora::valid_columns(*table, false)) {
    return zerovora::tell_invalid_argument("zerovora_global_get_file");
  }
  try {
    return zerovora::get_file(global->db.get(), directory, name, *table, out);
    // GCOVR_EXCL_BR_START: the C++ allocations fail only out of memory
  } catch (const std::bad_alloc &) {
    return ZEROVORA_ERROR_NO_MEMORY;
  }  // GCOVR_EXCL_BR_STOP
}

int zerovora_global_add_file(zerovora_global *global, const char *directory,
                             const char *name, int64_t size, int64_t mtime,
                             const char *title, const char *author,
                             const char *tag) {
  if (global == nullptr || directory == nullptr || name == nullptr ||
      title == nullptr || author == nullptr || tag == nullptr) {
    return zerovora::tell_invalid_argument("zerovora_global_add_file");
  }
  try {
    return zerovora::add_file(global->db.get(), directory, name, size, mtime,
                              title, author, tag);
    // GCOVR_EXCL_BR_START: the C++ allocations fail only out of memory
  } catch (const std::bad_alloc &) {
    return zerovora::tell_out_of_memory();
  }  // GCOVR_EXCL_BR_STOP
}

int zerovora_global_change_file(zerovora_global *global, const char *directory,
                                const char *name, const metadata_table *table) {
  if (global == nullptr || directory == nullptr || name == nullptr ||
      table == nullptr || !zerovora::valid_columns(*table, true)) {
    return zerovora::tell_invalid_argument("zerovora_global_change_file");
  }
  try {
    return zerovora::change_file(global->db.get(), directory, name, *table);
    // GCOVR_EXCL_BR_START: the C++ allocations fail only out of memory
  } catch (const std::bad_alloc &) {
    return zerovora::tell_out_of_memory();
  }  // GCOVR_EXCL_BR_STOP
}

}  // extern "C"
