// Key routing and field editing: every decoded key press goes through
// handle_key, a plain function of UiState.
#pragma once

#include <cstdint>
#include <string>

#include "native_linux/ui_state.h"

namespace tarnwick {

// Modifier bits as X reports them (ShiftMask, ControlMask, Mod1Mask).
inline constexpr unsigned kModifierShift = 1U << 0;
inline constexpr unsigned kModifierControl = 1U << 2;
inline constexpr unsigned kModifierAlt = 1U << 3;

struct DecodedKey {
  std::uint32_t keysym = 0;  // ISO_Left_Tab already folded into Tab
  unsigned modifiers = 0;
  std::string text;  // UTF-8, possibly empty
};

// Tab stops of the main screen's field cycle, in order.
std::vector<std::size_t> main_field_cycle(const UiState& ui);

void handle_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms);

}  // namespace tarnwick
