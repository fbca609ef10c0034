// The three typefaces compiled into the program, as read-only byte ranges.
#pragma once

#include <cstddef>
#include <span>

namespace tarnwick {

std::span<const unsigned char> jetbrains_mono_regular_data();
std::span<const unsigned char> inter_regular_data();
std::span<const unsigned char> rajdhani_bold_data();

}  // namespace tarnwick
