// The desktop layer: the UI thread's entry point.
#pragma once

namespace tarnwick {

// Runs the window and its event loop until the window is closed. Start-up
// failures end it quietly.
void run_desktop();

}  // namespace tarnwick
