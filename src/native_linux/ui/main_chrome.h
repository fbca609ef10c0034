// The main screen's header and footer, shared by every frame of the window.
#pragma once

#include "native_linux/ui/canvas.h"

namespace tarnwick {

// The layout is "tall" from this window height on.
inline constexpr std::int32_t kTallLayoutMinHeight = 780;

// Background, top bar, logo, brand mark, title, the three promise lines and the rule.
void draw_main_header(Canvas& canvas, Size window);
// The footer rule and its line of text.
void draw_main_footer(Canvas& canvas, Size window);

}  // namespace tarnwick
