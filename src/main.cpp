// Program entry: the main thread becomes the UI thread. Every message the program
// has is drawn in its window, so a start-up failure ends it quietly with status 0.
#include "native_linux/x11/desktop.h"

int main() {
  (void)tarnwick::run_desktop();
  return 0;
}
