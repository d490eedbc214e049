// vorn [TOOLKIT-OPTIONS] [--] FILE TITLE AUTHOR TAG: records a file's title,
// author and tag in the card's global metadata database.
#include <gtk/gtk.h>

#include <cstdio>

#include "exit_status.h"
#include "set_file_metadata.h"
#include "toolkit_arguments.h"

namespace {

constexpr char kUsage[] = "Usage: vorn [file] [title] [author] [tag]\n";
static_assert(sizeof kUsage - 1 == 42);

// The four values: file, title, author and tag.
constexpr int kValueCount = 4;

}  // namespace

int main(int argc, char *argv[]) {
  // Only the leading options reach the toolkit; the values that follow them
  // (or an explicit "--") are kept out of its reach.
  vorn::ToolkitArguments arguments(argc, argv);
  // Ends the process with status 1 and the toolkit's own message when no
  // display can be opened.
  gtk_init(arguments.toolkit_count(), arguments.toolkit_vector());
  // A no-op since GLib 2.36 and deprecated there, but required before it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  g_type_init();
#pragma GCC diagnostic pop

  const char *values[kValueCount] = {};
  if (arguments.values(values, kValueCount) != kValueCount) {
    std::fwrite(kUsage, 1, 42, stderr);
    return vorn::kExitUsage;
  }
  std::printf("Processing: [file:%s] [title:%s] [author:%s] [tag:%s]\n",
              values[0], values[1], values[2], values[3]);
  // The line is out before the database is opened, which may wait for
  // other writers.
  std::fflush(stdout);
  return vorn::exit_status_for(
      vorn::set_file_metadata(values[0], values[1], values[2], values[3]));
}
