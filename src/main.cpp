// Program entry: the main thread becomes the UI thread.
#include "native_linux/desktop.h"

int main() {
  tarnwick::run_desktop();
  return 0;
}
