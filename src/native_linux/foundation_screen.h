// A screen with only the main screen's header and footer and no controls.
#pragma once

#include <memory>

#include "native_linux/screen_host.h"

namespace tarnwick {

std::unique_ptr<Screen> make_foundation_screen();

}  // namespace tarnwick
