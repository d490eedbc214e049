// SPDX-License-Identifier: MIT
// Owners of what a registration allocates: GLib and C strings, metadata
// tables and the global database handle. Each releases its resource exactly
// once, on every way out of the scope that holds it.
#ifndef VORN_REGISTRATION_OWNERS_H
#define VORN_REGISTRATION_OWNERS_H

#include <glib.h>

#include <cstdlib>
#include <memory>

#include "zerovora.h"

namespace vorn {

struct GlibFree {
  void operator()(gchar *text) const noexcept { g_free(text); }
};
// A string allocated by GLib, released with g_free.
using GlibString = std::unique_ptr<gchar, GlibFree>;

struct CFree {
  void operator()(char *text) const noexcept { std::free(text); }
};
// A string allocated by the C library, released with free.
using CString = std::unique_ptr<char, CFree>;

struct TableFree {
  void operator()(metadata_table *table) const noexcept {
    metadata_table_free_impl(table);
  }
};
// A metadata table, released with metadata_table_free_impl.
using MetadataTable = std::unique_ptr<metadata_table, TableFree>;

struct GlobalClose {
  void operator()(zerovora_global *global) const noexcept {
    zerovora_close(global);
  }
};
// An open global database, closed with zerovora_close. A failed open leaves
// it empty, and an empty owner closes nothing.
using GlobalDatabase = std::unique_ptr<zerovora_global, GlobalClose>;

}  // namespace vorn

#endif
