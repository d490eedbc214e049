// vorn FILE TITLE AUTHOR TAG: records a file's title, author and tag in the
// card's global metadata database.
#include <gtk/gtk.h>

#include <cstdio>

#include "exit_status.h"
#include "set_file_metadata.h"

namespace {

constexpr char kUsage[] = "Usage: vorn [file] [title] [author] [tag]\n";
static_assert(sizeof kUsage - 1 == 42);

// The program name and the four values.
constexpr int kArgumentCount = 5;

}  // namespace

int main(int argc, char *argv[]) {
  // Ends the process with status 1 and the toolkit's own message when no
  // display can be opened.
  gtk_init(&argc, &argv);
  // A no-op since GLib 2.36 and deprecated there, but required before it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  g_type_init();
#pragma GCC diagnostic pop

  if (argc != kArgumentCount) {
    std::fwrite(kUsage, 1, 42, stderr);
    return vorn::kExitUsage;
  }
  std::printf("Processing: [file:%s] [title:%s] [author:%s] [tag:%s]\n",
              argv[1], argv[2], argv[3], argv[4]);
  // The line is out before the database is opened, which may wait for
  // other writers.
  std::fflush(stdout);
  return vorn::exit_status_for(
      vorn::set_file_metadata(argv[1], argv[2], argv[3], argv[4]));
}
