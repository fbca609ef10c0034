// Placeholder until the desktop layer lands.
#include "native_linux/desktop.h"

namespace tarnwick {

void run_desktop() {}

}  // namespace tarnwick
