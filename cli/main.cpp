// SPDX-License-Identifier: MIT
// vorn [TOOLKIT-OPTIONS] [--] FILE TITLE AUTHOR TAG: records a file's title,
// author and tag in the card's global metadata database.
#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "exit_status.h"
#include "set_file_metadata.h"
#include "toolkit_arguments.h"

namespace {

constexpr char kUsage[] = "Usage: vorn [file] [title] [author] [tag]\n";
static_assert(sizeof kUsage - 1 == 42);

// The four values: file, title, author and tag.
constexpr int kValueCount = 4;

// Opens /dev/null on each of the descriptors 0, 1 and 2 that is closed, so
// that the toolkit's connection to the display, or any file opened later,
// can't take its number and receive what is meant for standard output or
// error. Returns false when one can't be opened.
bool open_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    // fstat rather than fcntl, whose large-file name needs a newer C library
    // on 32-bit ARM. (It fails otherwise than with EBADF only on a file too
    // large for a 32-bit stat, which a 64-bit build never meets.)
    struct stat st {};
    if (fstat(fd, &st) == 0 || errno != EBADF) continue;
    // The lowest free descriptor, which is fd.
    if (open("/dev/null", O_RDWR) != fd) return false;
  }
  return true;
}

// Flushes standard output; returns 0, or the errno of the failed write.
int flush_output() { return std::fflush(stdout) == 0 ? 0 : errno; }

}  // namespace

int main(int argc, char *argv[]) {
  if (!open_standard_streams()) {
    // Reaches standard error when that one is open.
    std::fprintf(stderr, "vorn: /dev/null: %s\n", std::strerror(errno));
    return vorn::kExitNotStarted;
  }
  // Only the leading options reach the toolkit; the values that follow them
  // (or an explicit "--") are kept out of its reach.
  vorn::ToolkitArguments arguments(argc, argv);
  // Ends the process with status 1 and the toolkit's own message when no
  // display can be opened.
  gtk_init(arguments.toolkit_count(), arguments.toolkit_vector());
  // A no-op since GLib 2.36, but required before it.
  g_type_init();

  const char *values[kValueCount] = {};
  if (arguments.values(values, kValueCount) != kValueCount) {
    std::fwrite(kUsage, 1, 42, stderr);
    return vorn::kExitNotStarted;
  }
  std::printf("Processing: [file:%s] [title:%s] [author:%s] [tag:%s]\n",
              values[0], values[1], values[2], values[3]);
  // The line is out before the database is opened, which may wait for
  // other writers.
  int output_error = flush_output();
  const int result =
      vorn::set_file_metadata(values[0], values[1], values[2], values[3]);
  const int status = vorn::exit_status_for(result);
  if (status == vorn::kExitUnrepresentable) {
    std::fprintf(stderr,
                 "vorn: the library failed with code %d, which no exit status "
                 "carries\n",
                 result);
  }
  if (output_error == 0) output_error = flush_output();
  // The status tells what became of the entry, which a lost line does not
  // change; the loss is reported beside it.
  if (output_error != 0) {
    std::fprintf(stderr, "vorn: standard output: %s\n",
                 std::strerror(output_error));
  }
  return status;
}
