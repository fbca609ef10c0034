// Geometry of the main screen and the review pane for one window size, the
// functions that draw them and the whole frame from UiState, and where a press
// or the wheel lands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "native_linux/ui/canvas.h"
#include "native_linux/ui/ui_state.h"

namespace tarnwick {

struct MainLayout {
  bool tall = true;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t left_column = 0;  // width of the options column; the review pane starts here
  std::int32_t section1_top = 0;
  std::int32_t section1_height = 0;
  std::int32_t field_offset = 0;  // of section 1's field below its top
  std::int32_t field_height = 0;
  std::int32_t section2_top = 0;
  std::int32_t options_top = 0;  // top of the options column and the review pane
};

MainLayout main_layout(Size window);

struct ReviewLayout {
  Rect panel;
  Rect text_area;
  std::int32_t columns = 0;
  std::int32_t visible_lines = 0;
  Rect scroll_track;       // where the scroll bar is drawn when the text is longer than the area
  Rect scroll_bar_target;  // where a press reaches it
};

ReviewLayout review_layout(const MainLayout& layout);

// The progress of a running worker, where the page buttons and Apply are otherwise.
struct ProgressLayout {
  Rect line;  // the progress line's clip
  Rect bar;
  Rect cancel;
  std::int32_t note_baseline = 0;  // of the sentence beside Cancel; the elapsed time is under it
};

ProgressLayout progress_layout(const MainLayout& layout);

// The main screen with its review pane (no overlays). Clamps the review
// scroll to the lines the text has.
void draw_main_screen(Canvas& canvas, UiState& ui, Size window);
void draw_review_pane(Canvas& canvas, UiState& ui, const MainLayout& layout);

// An overlay's box: at most max_width × max_height, 35 pixels clear of each
// window edge when the window is smaller, centred.
Rect centred_overlay(Size window, std::int32_t max_width, std::int32_t max_height);

// Text field `field` of UiState with its placeholder, cursor and selection.
void draw_ui_field(Canvas& canvas, const UiState& ui, Rect rect, std::size_t field, bool enabled, bool invalid = false);

// The visible slice of wrapped lines, 19 pixels apart, clipped to area; the
// scroll is clamped in place to the lines there are.
void draw_scrolled_text(Canvas& canvas, const std::vector<std::string>& lines, Rect area, std::int32_t text_x,
                        std::int32_t first_baseline, std::int32_t visible, std::int64_t& scroll);

// Everything of one frame: main screen, then the open overlays in order.
void draw_frame(Canvas& canvas, UiState& ui, Size window);

// A button-1 press on the region under the pointer (if any), at height
// pointer_y. Ignored while an overlay has only just opened, so a double click
// cannot reach into it.
void press_at(UiState& ui, const std::optional<HitRegion>& region, std::int32_t pointer_y, std::int64_t now_ms);

// Wheel scrolling over the review text or the confirmation text; `lines` is
// negative for up. Ignored while a worker runs.
void scroll_at(UiState& ui, Size window, std::int32_t x, std::int32_t y, std::int64_t lines);

}  // namespace tarnwick
