// Header and footer of the main screen, in the three embedded typefaces.
#include "native_linux/ui/main_chrome.h"

namespace tarnwick {

namespace {

// Draws `first` then `second` immediately after it on the same baseline.
void draw_two_tone(Canvas& canvas, std::int32_t x, std::int32_t baseline, std::string_view first,
                   Colour first_colour, std::string_view second, Colour second_colour, FontRole role) {
  canvas.draw_text(x, baseline, first, first_colour, role);
  canvas.draw_text(x + canvas.measure_text(first, role), baseline, second, second_colour, role);
}

}  // namespace

void draw_main_header(Canvas& canvas, Size window) {
  const bool tall = window.height >= kTallLayoutMinHeight;
  canvas.fill_rect(Rect{0, 0, window.width, window.height}, palette::kBackground);
  canvas.fill_rect(Rect{0, 0, window.width, 3}, palette::kAccent);
  canvas.draw_image(Image::Logo, 22, 20);
  draw_two_tone(canvas, 158, 54, "Tarn", palette::kAccentBright, "wick", palette::kText, FontRole::Sans23);
  draw_two_tone(canvas, 157, 91, "RECURSIVE ", palette::kText, "RENAMES", palette::kAccentBright,
                FontRole::Display34);
  if (tall) canvas.draw_text(159, 112, "ONE REPLACEMENT. EVERY MATCH.", palette::kTextSecondary, FontRole::Mono11);
  const std::int32_t right_x = window.width - 244;
  canvas.draw_text(right_x, 45, "LOCAL PROCESSING", palette::kPositive, FontRole::Mono11);
  canvas.draw_text(right_x, 65, "NO TELEMETRY \u00B7 NO HISTORY", palette::kTextSecondary, FontRole::Mono11);
  canvas.draw_text(right_x, 87, "v1.4.0", palette::kTextSecondary, FontRole::Mono11);
  const std::int32_t rule_y = tall ? 130 : 110;
  canvas.draw_line(20, rule_y, window.width - 20, rule_y, palette::kBorder);
}

void draw_main_footer(Canvas& canvas, Size window) {
  canvas.draw_line(20, window.height - 35, window.width - 20, window.height - 35, palette::kBorder);
  canvas.draw_text(window.width - 286, window.height - 16, "PRIVATE BY DESIGN \u00B7 NO ACTIVITY LOGS",
                   palette::kTextSecondary, FontRole::Mono11);
}

}  // namespace tarnwick
