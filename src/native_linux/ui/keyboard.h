// Key routing and field editing: every key press, in the program's own terms,
// goes through handle_key, a plain function of UiState.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "native_linux/ui/ui_state.h"

namespace tarnwick {

// The keys the screens act on. The desktop layer turns its own key codes into
// these; any other key is Other and may still carry text.
enum class Key : std::uint8_t {
  Other,
  Modifier,  // Shift, Control, Alt, the lock and group keys: pressed before a chord
  Letter,    // A to Z, with DecodedKey::letter
  Tab,       // also Shift+Tab, whatever code the desktop gives it
  Return,
  Escape,
  Space,
  BackSpace,
  Delete,
  Home,
  End,
  Left,
  Right,
  Up,
  Down,
  PageUp,
  PageDown,
};

// Modifier bits of a key press.
inline constexpr unsigned kModifierShift = 1U << 0;
inline constexpr unsigned kModifierControl = 1U << 1;
inline constexpr unsigned kModifierAlt = 1U << 2;

struct DecodedKey {
  Key key = Key::Other;
  char letter = 0;  // 'a' to 'z' for Key::Letter, whichever case was typed
  unsigned modifiers = 0;
  std::string text;  // valid UTF-8, possibly empty
};

// Tab stops of the main screen's field cycle, in order.
std::vector<std::size_t> main_field_cycle(const UiState& ui);

void handle_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms);

}  // namespace tarnwick
