// The floor of a vorn run: what vorn must do before it touches the
// database, and nothing else.
#include <gtk/gtk.h>

int main(int argc, char *argv[]) {
  gtk_init(&argc, &argv);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  g_type_init();
#pragma GCC diagnostic pop
  return 0;
}
