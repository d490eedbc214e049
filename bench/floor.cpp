// SPDX-License-Identifier: MIT
// The floor of a vorn run: what vorn must do before it touches the
// database, and nothing else.
#include <gtk/gtk.h>

int main(int argc, char *argv[]) {
  gtk_init(&argc, &argv);
  g_type_init();
  return 0;
}
