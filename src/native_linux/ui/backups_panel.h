// The Backups panel's state. The panel's drawing and opening land with the
// panel itself; until then its button and Control+B open nothing. Its keys are
// routed with the confirmation's in keyboard.cpp, its text is the backup choice
// of confirm_text.cpp.
#pragma once

#include <cstdint>

namespace tarnwick {

// The panel's controls that take keyboard focus.
enum class BackupsFocus : std::uint8_t { Checkbox, Destination, Browse, BackUpNow, Done, CopyDetails };

struct BackupsPanelState {
  bool open = false;
  BackupsFocus focus = BackupsFocus::Done;
};

}  // namespace tarnwick
