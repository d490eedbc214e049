// SPDX-License-Identifier: MIT
// Metadata tables: ordered named columns, each with an optional text value.
// Every function is noexcept at the C boundary: an allocation failure is
// reported as ZEROVORA_ERROR_NO_MEMORY, and told on standard error.
#include <cstddef>
#include <new>

#include "failure.h"
#include "metadata_table_impl.h"
#include "zerovora.h"

namespace {

bool in_range(const metadata_table *table, int position) {
  return position >= 0 &&
         static_cast<std::size_t>(position) < table->columns.size();
}

}  // namespace

extern "C" {

metadata_table *metadata_table_new(void) {
  // Null only out of memory.
  auto *table = new (std::nothrow) metadata_table;       // GCOVR_EXCL_BR_LINE
  if (table == nullptr) zerovora::tell_out_of_memory();  // GCOVR_EXCL_BR_LINE
  return table;
}

int metadata_table_add_column(metadata_table *table, const char *name) {
  if (table == nullptr || name == nullptr) {
    return zerovora::tell_invalid_argument("metadata_table_add_column");
  }
  try {
    table->columns.push_back({name, std::nullopt});
    // GCOVR_EXCL_BR_START: the C++ allocations fail only out of memory
  } catch (const std::bad_alloc &) {
    return zerovora::tell_out_of_memory();
  }  // GCOVR_EXCL_BR_STOP
  return ZEROVORA_OK;
}

int metadata_table_set_text(metadata_table *table, int position,
                            const char *text) {
  if (table == nullptr || text == nullptr || !in_range(table, position)) {
    return zerovora::tell_invalid_argument("metadata_table_set_text");
  }
  try {
    table->columns[static_cast<std::size_t>(position)].text = text;
    // GCOVR_EXCL_BR_START: the C++ allocations fail only out of memory
  } catch (const std::bad_alloc &) {
    return zerovora::tell_out_of_memory();
  }  // GCOVR_EXCL_BR_STOP
  return ZEROVORA_OK;
}

void metadata_table_free_impl(metadata_table *table) { delete table; }

int metadata_table_get_column_count(const metadata_table *table) {
  if (table == nullptr) return -1;
  return static_cast<int>(table->columns.size());
}

const char *metadata_table_get_column_name(const metadata_table *table,
                                           int position) {
  if (table == nullptr || !in_range(table, position)) return nullptr;
  return table->columns[static_cast<std::size_t>(position)].name.c_str();
}

const char *metadata_table_get_text(const metadata_table *table, int position) {
  if (table == nullptr || !in_range(table, position)) return nullptr;
  const auto &text = table->columns[static_cast<std::size_t>(position)].text;
  return text ? text->c_str() : nullptr;
}

}  // extern "C"
