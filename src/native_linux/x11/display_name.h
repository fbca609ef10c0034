// Validation of the DISPLAY value before any X call: only local displays.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

inline constexpr std::size_t kMaxDisplayNumberDigits = 5;

// The value to hand to XOpenDisplay (the whole value, prefix included), or the
// start-up message. `value` is nullopt when the variable is unset.
Result<std::string> validate_display_name(std::optional<std::string_view> value);

}  // namespace tarnwick
