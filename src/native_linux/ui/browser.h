// The folder browser's state. The browser itself lands later; until then the
// Browse buttons open nothing and it is never open.
#pragma once

#include <cstdint>

namespace tarnwick {

// What the chosen folder becomes: the target, or the backup destination.
enum class BrowserMode : std::uint8_t { Target, BackupFolder };

struct BrowserState {
  bool open = false;
  BrowserMode mode = BrowserMode::Target;
};

}  // namespace tarnwick
