// SPDX-License-Identifier: MIT
#include "failure.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "bounds.h"
#include "zerovora.h"

namespace zerovora {
namespace {

// `text` with its control bytes, DEL and backslashes as \xHH.
std::string escaped(const std::string &text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f || byte == '\\') {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// The errno of the last I/O error on the files of `db` (which may be
// null), as its VFS kept it: SQLite itself records it for some failures
// only, and after its rollback's calls have changed errno. When the
// database did not open, what SQLite recorded of the open.
int system_error(sqlite3 *db) {
  if (db == nullptr) return 0;
  sqlite3_vfs *vfs = nullptr;
  sqlite3_file_control(db, "main", SQLITE_FCNTL_VFS_POINTER, &vfs);
  if (vfs == nullptr) return sqlite3_system_errno(db);
  return vfs->xGetLastError(vfs, 0, nullptr);
}

}  // namespace

bool is_out_of_room(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return true;
    default:
      return false;
  }
}

std::string reason(int error) {
  return is_out_of_room(error) ? "the card is full" : std::strerror(error);
}

void tell(const Failure &failure) {
  std::string line = "zerovora: ";
  if (!failure.path.empty()) line += escaped(failure.path) + ": ";
  line += escaped(failure.cause) + "\n";
  std::fputs(line.c_str(), stderr);
}

Mapped from_sqlite(sqlite3 *db, int rc) {
  switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return {ZEROVORA_OK, ""};
    case SQLITE_NOMEM:
      return {ZEROVORA_ERROR_NO_MEMORY, "out of memory"};
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return {ZEROVORA_ERROR_BUSY,
              "locked by another process for longer than the library waits (" +
                  std::to_string(kBusyTimeoutMs / 1000) +
                  " s): try again later"};
    case SQLITE_FULL:
      return {ZEROVORA_ERROR_FULL, "the card is full"};
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return {ZEROVORA_ERROR_READ_ONLY, "the card or the file is read-only"};
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return {ZEROVORA_ERROR_CORRUPT, "damaged"};
    case SQLITE_CONSTRAINT:
      // Only the key's uniqueness means that the entry exists; any other
      // constraint (a NOT NULL, say) is a failure of the library's own.
      if (rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
        return {ZEROVORA_ERROR_EXISTS,
                "it already holds an entry for that file"};
      }
      break;
    case SQLITE_TOOBIG:
      return {ZEROVORA_ERROR_ARGUMENT,
              "an entry longer than the library writes (" +
                  std::to_string(kMaxEntryLength) + " bytes)"};
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN: {
      const int error = system_error(db);
      // No room for the journal (a full card, or a full root directory on
      // FAT, whose entries are clusters too) is a full card.
      if (is_out_of_room(error)) {
        return {ZEROVORA_ERROR_FULL, "the card is full"};
      }
      if (error != 0) {
        return {ZEROVORA_ERROR_IO,
                std::string((rc & 0xff) == SQLITE_CANTOPEN
                                ? "it or its journal can't be opened: "
                                : "an I/O error: ") +
                    std::strerror(error)};
      }
      break;
    }
  }
  return {ZEROVORA_ERROR_IO, std::string("failed: ") + sqlite3_errstr(rc)};
}

int tell_sqlite(sqlite3 *db, int rc) {
  const Mapped mapped = from_sqlite(db, rc);
  if (mapped.code != ZEROVORA_OK) {
    const char *path = sqlite3_db_filename(db, "main");
    tell({path != nullptr ? path : "", mapped.cause});
  }
  return mapped.code;
}

// These two allocate nothing, so that they never throw: they are told on
// the C functions' way out, out of memory too.
int tell_invalid_argument(const char *function) noexcept {
  std::fprintf(stderr,
               "zerovora: %s: an invalid argument (a null pointer, an unknown "
               "flag or column, a position out of range)\n",
               function);
  return ZEROVORA_ERROR_ARGUMENT;
}

int tell_out_of_memory() noexcept {
  std::fputs("zerovora: out of memory\n", stderr);
  return ZEROVORA_ERROR_NO_MEMORY;
}

}  // namespace zerovora
