// Placeholder until the main screen lands: the window shows the header and footer.
#include "native_linux/foundation_screen.h"

namespace tarnwick {

std::unique_ptr<Screen> make_main_screen() { return make_foundation_screen(); }

}  // namespace tarnwick
