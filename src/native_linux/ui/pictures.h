// The program's own pictures: the logo (240 x 152) and the icon (64 x 64 for the window),
// both R, G, B, A bytes per pixel, row by row, and their conversions for X.
#pragma once

#include <cstdint>
#include <vector>

namespace tarnwick {

inline constexpr int kLogoSourceWidth = 240;
inline constexpr int kLogoSourceHeight = 152;
inline constexpr int kIconSize = 64;
// width, height, then one pixel per item.
inline constexpr std::size_t kIconPropertyItems = 2 + kIconSize * kIconSize;

std::vector<std::uint8_t> logo_rgba();
// The icon at any size: the window's is kIconSize; the desktop's icon files
// are drawn at their own sizes by the same code.
std::vector<std::uint8_t> icon_rgba(int size = kIconSize);

// _NET_WM_ICON items: 64, 64, then A<<24 | R<<16 | G<<8 | B per pixel. Format-32
// properties travel as arrays of long, whatever the width of long.
std::vector<long> icon_property(const std::vector<std::uint8_t>& rgba);

// The 120 x 76 logo pixels (0xRRGGBB): the top-left pixel of every 2 x 2 block of
// the source, blended over the window background with integer arithmetic.
std::vector<std::uint32_t> logo_pixels(const std::vector<std::uint8_t>& rgba);

}  // namespace tarnwick
