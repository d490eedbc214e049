// SPDX-License-Identifier: MIT
// The inside of a metadata table, shared by the table functions and the
// database operations of the stand-in library.
#ifndef ZEROVORA_METADATA_TABLE_IMPL_H
#define ZEROVORA_METADATA_TABLE_IMPL_H

#include <optional>
#include <string>
#include <vector>

struct metadata_table {
  struct Column {
    std::string name;
    std::optional<std::string> text;
  };
  std::vector<Column> columns;
};

#endif
