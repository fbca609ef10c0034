// The desktop layer: the UI thread's entry point.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/result.h"

namespace tarnwick {

class Screen;

// Runs the window and its event loop until the window is closed, with the
// main screen's target field holding start_target when one is given. Start-up
// failures return their message (the program entry discards it).
Result<void> run_desktop(std::optional<std::string> start_target = std::nullopt);

// The same with a given screen in place of the main screen (tests drive the real
// loop with their own screen).
Result<void> run_desktop_with(std::unique_ptr<Screen> screen);

}  // namespace tarnwick
