// Draws the logo and icon picture in code (a red plate with two opposed arrows:
// one replacement, both ways), so no image file has to travel with the program.
#include "native_linux/ui/pictures.h"

#include <algorithm>
#include <cmath>

#include "native_linux/ui/canvas.h"

namespace tarnwick {

namespace {

// Signed distance to a rounded box centred at (cx, cy).
double rounded_box(double x, double y, double cx, double cy, double half_w, double half_h, double radius) {
  const double qx = std::abs(x - cx) - half_w + radius;
  const double qy = std::abs(y - cy) - half_h + radius;
  const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
  return outside + std::min(std::max(qx, qy), 0.0) - radius;
}

// Inside test for an arrow along y = cy from x0 to x1 (pointing to x1).
bool in_arrow(double x, double y, double x0, double x1, double cy, double shaft_half, double head_len,
              double head_half) {
  const double direction = x1 > x0 ? 1.0 : -1.0;
  const double along = (x - x0) * direction;  // distance from the tail
  const double length = std::abs(x1 - x0);
  const double across = std::abs(y - cy);
  if (along < 0 || along > length) return false;
  if (along <= length - head_len) return across <= shaft_half;
  const double remaining = length - along;  // 0 at the tip
  return across <= head_half * remaining / head_len;
}

// One picture of the mark at any size; four samples per axis for smooth edges.
std::vector<std::uint8_t> render_mark(int width, int height, double plate_margin, double radius_share) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * height * 4);
  const double w = width;
  const double h = height;
  const double radius = std::min(w, h) * radius_share;
  const double arrow_x0 = w * 0.22;
  const double arrow_x1 = w * 0.78;
  const double shaft = h * 0.055;
  const double head_len = w * 0.14;
  const double head_half = h * 0.14;
  constexpr int kSamples = 4;
  for (int py = 0; py < height; ++py) {
    for (int px = 0; px < width; ++px) {
      int plate_hits = 0;
      int arrow_hits = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const double x = px + (sx + 0.5) / kSamples;
          const double y = py + (sy + 0.5) / kSamples;
          if (rounded_box(x, y, w / 2, h / 2, w / 2 - plate_margin, h / 2 - plate_margin, radius) > 0) continue;
          ++plate_hits;
          if (in_arrow(x, y, arrow_x0, arrow_x1, h * 0.37, shaft, head_len, head_half) ||
              in_arrow(x, y, arrow_x1, arrow_x0, h * 0.63, shaft, head_len, head_half)) {
            ++arrow_hits;
          }
        }
      }
      const double coverage = plate_hits / double(kSamples * kSamples);
      const double arrow_share = plate_hits ? arrow_hits / double(plate_hits) : 0.0;
      // The plate darkens from the accent at the top to a deep red at the bottom.
      const double t = py / std::max(1.0, h - 1);
      const double plate_r = 0xD7 * (1 - t) + 0x8E * t;
      const double plate_g = 0x2B * (1 - t) + 0x1A * t;
      const double plate_b = 0x42 * (1 - t) + 0x2B * t;
      const auto mix = [&](double plate, double mark) {
        return static_cast<std::uint8_t>(std::lround(plate * (1 - arrow_share) + mark * arrow_share));
      };
      std::uint8_t* pixel = &rgba[(static_cast<std::size_t>(py) * width + px) * 4];
      pixel[0] = mix(plate_r, 0xF3);
      pixel[1] = mix(plate_g, 0xF0);
      pixel[2] = mix(plate_b, 0xEF);
      pixel[3] = static_cast<std::uint8_t>(std::lround(coverage * 255));
    }
  }
  return rgba;
}

}  // namespace

std::vector<std::uint8_t> logo_rgba() { return render_mark(kLogoSourceWidth, kLogoSourceHeight, 4.0, 0.16); }

// The margin grows with the size: 2 pixels at the window's 64.
std::vector<std::uint8_t> icon_rgba(int size) { return render_mark(size, size, size / 32.0, 0.2); }

std::vector<long> icon_property(const std::vector<std::uint8_t>& rgba) {
  std::vector<long> items;
  items.reserve(kIconPropertyItems);
  items.push_back(kIconSize);
  items.push_back(kIconSize);
  for (std::size_t i = 0; i + 3 < rgba.size() && items.size() < kIconPropertyItems; i += 4) {
    const unsigned long value = static_cast<unsigned long>(rgba[i + 3]) << 24 | unsigned{rgba[i]} << 16 |
                                unsigned{rgba[i + 1]} << 8 | rgba[i + 2];
    items.push_back(static_cast<long>(value));
  }
  return items;
}

std::vector<std::uint32_t> logo_pixels(const std::vector<std::uint8_t>& rgba) {
  constexpr std::uint32_t kBackground[3] = {(palette::kBackground >> 16) & 0xFF, (palette::kBackground >> 8) & 0xFF,
                                            palette::kBackground & 0xFF};
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kLogoWidth) * kLogoHeight);
  if (rgba.size() != static_cast<std::size_t>(kLogoSourceWidth) * kLogoSourceHeight * 4) return {};
  for (int y = 0; y < kLogoHeight; ++y) {
    for (int x = 0; x < kLogoWidth; ++x) {
      const std::uint8_t* source = &rgba[(static_cast<std::size_t>(2 * y) * kLogoSourceWidth + 2 * x) * 4];
      const std::uint32_t alpha = source[3];
      std::uint32_t value = 0;
      for (int channel = 0; channel < 3; ++channel) {
        const std::uint32_t blended = (source[channel] * alpha + kBackground[channel] * (255 - alpha)) / 255;
        value = value << 8 | blended;
      }
      pixels[static_cast<std::size_t>(y) * kLogoWidth + x] = value;
    }
  }
  return pixels;
}

}  // namespace tarnwick
