// The apply confirmation: its state, geometry and drawing. Its text is composed
// in confirm_text.cpp, its keys are routed in keyboard.cpp.
#pragma once

#include <cstdint>

#include "native_linux/ui/canvas.h"

namespace tarnwick {

struct UiState;

// The confirmation's controls that take keyboard focus.
enum class ConfirmFocus : std::uint8_t { Cancel, Apply, Checkbox, Destination, Browse };

struct ConfirmationState {
  bool open = false;
  ConfirmFocus focus = ConfirmFocus::Cancel;
  std::int64_t scroll = 0;  // text lines scrolled away
};

struct ConfirmationLayout {
  Rect dialog;
  Rect text_area;
  std::int32_t columns = 0;
  std::int32_t visible_lines = 0;
  Rect checkbox_focus;
  Rect destination_field;
  Rect browse;
  Rect cancel;
  Rect apply;
};

ConfirmationLayout confirmation_layout(Size window);

// The apply confirmation over everything drawn so far; restarts the regions.
void draw_confirmation(Canvas& canvas, UiState& ui, Size window);

}  // namespace tarnwick
