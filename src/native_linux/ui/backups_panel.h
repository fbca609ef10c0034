// The Backups panel: its state, opening, "Back up now", the status area's
// text and the panel's drawing. Its keys are routed with the confirmation's in
// keyboard.cpp; its backup-choice text is confirm_text.cpp's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "native_linux/ui/canvas.h"

namespace tarnwick {

struct UiState;

// The panel's controls that take keyboard focus.
enum class BackupsFocus : std::uint8_t { Checkbox, Destination, Browse, BackUpNow, Done, CopyDetails };

struct BackupsPanelState {
  bool open = false;
  BackupsFocus focus = BackupsFocus::Done;
  // Monotonic time "Back up now" last started a backup: a second press of the
  // same double click must not start another, however fast the first ran.
  std::optional<std::int64_t> last_backup_start_ms;
};

// Action 2: opens with the focus on Done and no field focused.
void open_backups_panel(UiState& ui);
// Action 5: starts the backup-only worker, or reports why not.
void back_up_now(UiState& ui, std::int64_t now_ms);
// Whether "Back up now" is enabled: no worker, and a target and a destination.
bool back_up_now_enabled(const UiState& ui);

// The progress and status area: its text (to be wrapped) and whether it
// reports a stop (amber) rather than progress or success (green).
struct BackupsStatus {
  std::string text;
  bool stopped = false;
};
BackupsStatus compose_backups_status(const UiState& ui);

struct BackupsPanelLayout {
  Rect panel;
  std::int32_t left = 0;  // X, the panel's left margin
  std::int32_t columns = 20;  // of the wrapped texts
  Rect checkbox_focus;
  Rect destination_field;
  Rect browse;
  Rect copy_details;
  Rect back_up_now;
  Rect done;
};

BackupsPanelLayout backups_panel_layout(Size window);
// The panel over everything drawn so far; restarts the regions.
void draw_backups_panel(Canvas& canvas, UiState& ui, Size window);

}  // namespace tarnwick
