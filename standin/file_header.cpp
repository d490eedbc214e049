#include "file_header.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "schema.h"

namespace zerovora {
namespace {

// The fields of SQLite's 100-byte file header that tell whose file it is.
constexpr int kHeaderSize = 100;
constexpr char kMagic[] = "SQLite format 3";  // with its NUL, 16 bytes
constexpr std::size_t kWriteVersionOffset = 18;
constexpr std::size_t kReadVersionOffset = 19;
constexpr std::size_t kTextEncodingOffset = 56;
constexpr std::size_t kUserVersionOffset = 60;
constexpr std::size_t kApplicationIdOffset = 68;
constexpr std::uint8_t kRollbackJournal = 1;  // 2 is write-ahead logging
constexpr std::uint32_t kUtf8 = 1;

using RawHeader = std::array<std::uint8_t, kHeaderSize>;

std::uint32_t big_endian(const std::uint8_t *bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

bool is_ours(const RawHeader &header) {
  return std::memcmp(header.data(), kMagic, sizeof kMagic) == 0 &&
         header[kWriteVersionOffset] == kRollbackJournal &&
         header[kReadVersionOffset] == kRollbackJournal &&
         big_endian(&header[kTextEncodingOffset]) == kUtf8 &&
         big_endian(&header[kUserVersionOffset]) == kSchemaVersion &&
         big_endian(&header[kApplicationIdOffset]) == kApplicationId;
}

}  // namespace

FileHeader judge_file_header(sqlite3 *db) {
  sqlite3_file *file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) !=
          SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr) {
    return FileHeader::kOther;
  }
  // The file must still be the one at its path: a file that another run
  // made and removed again is not written.
  int moved = 1;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) !=
          SQLITE_OK ||
      moved != 0) {
    return FileHeader::kOther;
  }
  // The size on disk: SQLite's own file reports a file of one byte as empty.
  const char *path = sqlite3_db_filename(db, "main");
  struct stat st {};
  if (path == nullptr || lstat(path, &st) != 0) return FileHeader::kOther;
  if (st.st_size == 0) return FileHeader::kEmpty;
  RawHeader header{};
  if (st.st_size < kHeaderSize ||
      file->pMethods->xRead(file, header.data(), kHeaderSize, 0) != SQLITE_OK) {
    return FileHeader::kOther;
  }
  return is_ours(header) ? FileHeader::kMarked : FileHeader::kOther;
}

}  // namespace zerovora
