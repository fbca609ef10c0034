// The canvas's own bookkeeping (text clip stack, hit regions) and the recording canvas.
#include "native_linux/ui/canvas.h"

#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "common/utf8.h"

namespace tarnwick {

std::string_view font_role_name(FontRole role) {
  switch (role) {
    case FontRole::Mono13: return "Mono13";
    case FontRole::Mono11: return "Mono11";
    case FontRole::Sans16: return "Sans16";
    case FontRole::Display34: return "Display34";
    case FontRole::Sans23: return "Sans23";
  }
  return "?";
}

bool Rect::contains(std::int32_t px, std::int32_t py) const {
  // 64-bit sums: a rectangle near the 32-bit edge must not wrap into a hit.
  return px >= x && py >= y && std::int64_t{px} < std::int64_t{x} + width &&
         std::int64_t{py} < std::int64_t{y} + height;
}

namespace {

Rect intersect(Rect a, Rect b) {
  const std::int64_t left = std::max(a.x, b.x);
  const std::int64_t top = std::max(a.y, b.y);
  const std::int64_t right = std::min(std::int64_t{a.x} + a.width, std::int64_t{b.x} + b.width);
  const std::int64_t bottom = std::min(std::int64_t{a.y} + a.height, std::int64_t{b.y} + b.height);
  return Rect{static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
              static_cast<std::int32_t>(std::max<std::int64_t>(0, right - left)),
              static_cast<std::int32_t>(std::max<std::int64_t>(0, bottom - top))};
}

}  // namespace

void Canvas::push_text_clip(Rect rect) {
  const Rect clip = clip_stack_.empty() ? rect : intersect(clip_stack_.back(), rect);
  clip_stack_.push_back(clip);
  apply_text_clip(clip);
}

void Canvas::pop_text_clip() {
  if (clip_stack_.empty()) return;
  clip_stack_.pop_back();
  apply_text_clip(clip_stack_.empty() ? std::nullopt : std::optional<Rect>(clip_stack_.back()));
}

void Canvas::set_text_clip(Rect rect) {
  clip_stack_.assign(1, rect);
  apply_text_clip(rect);
}

void Canvas::clear_text_clip() {
  clip_stack_.clear();
  apply_text_clip(std::nullopt);
}

void Canvas::begin_frame() {
  hit_regions_.clear();
  if (!clip_stack_.empty()) clear_text_clip();
}

void Canvas::begin_overlay() {
  hit_regions_.clear();
  on_overlay_started();
}

void Canvas::add_hit_region(const HitRegion& region) { hit_regions_.push_back(region); }

std::optional<HitRegion> hit_test(const std::vector<HitRegion>& regions, std::int32_t x, std::int32_t y) {
  for (const HitRegion& region : regions) {
    if (region.rect.contains(x, y)) return region;
  }
  return std::nullopt;
}

// ---- RecordingCanvas ----

namespace {

std::string colour_text(Colour colour) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "#%06X", static_cast<unsigned>(colour & 0xFFFFFF));
  return buffer;
}

std::string rect_text(Rect rect) {
  return std::to_string(rect.x) + " " + std::to_string(rect.y) + " " + std::to_string(rect.width) + " " +
         std::to_string(rect.height);
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

std::int32_t RecordingCanvas::advance_of(FontRole role) {
  switch (role) {
    case FontRole::Mono13: return 8;
    case FontRole::Mono11: return 7;
    case FontRole::Sans16: return 9;
    case FontRole::Display34: return 17;
    case FontRole::Sans23: return 13;
  }
  return 8;
}

void RecordingCanvas::fill_rect(Rect rect, Colour colour) {
  if (rect.width <= 0 || rect.height <= 0) return;
  primitives_.push_back("fill " + rect_text(rect) + " " + colour_text(colour));
}

void RecordingCanvas::outline_rect(Rect rect, Colour colour) {
  if (rect.width < 2 || rect.height < 2) return;
  primitives_.push_back("outline " + rect_text(rect) + " " + colour_text(colour));
}

void RecordingCanvas::draw_line(std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2,
                                Colour colour) {
  primitives_.push_back("line " + std::to_string(x1) + " " + std::to_string(y1) + " " + std::to_string(x2) + " " +
                        std::to_string(y2) + " " + colour_text(colour));
}

void RecordingCanvas::draw_text(std::int32_t x, std::int32_t baseline, std::string_view utf8, Colour colour,
                                FontRole role) {
  if (utf8.empty()) return;
  primitives_.push_back("text " + std::to_string(x) + " " + std::to_string(baseline) + " " +
                        std::string(font_role_name(role)) + " " + colour_text(colour) + " " +
                        quoted(lossy_utf8(utf8)));
}

void RecordingCanvas::set_code_point_advance(char32_t code_point, std::int32_t advance) {
  code_point_advances_[code_point] = advance;
}

std::int32_t RecordingCanvas::measure_text(std::string_view utf8, FontRole role) {
  const std::string text = lossy_utf8(utf8);
  std::uint64_t width = saturating_mul(count_code_points(text), advance_of(role));
  if (!code_point_advances_.empty()) {
    width = 0;
    for (std::size_t at = 0; at < text.size();) {
      const Utf8Step step = utf8_step(text, at);
      const auto own = code_point_advances_.find(step.code_point);
      const std::int32_t advance = own != code_point_advances_.end() ? own->second : advance_of(role);
      width = saturating_add(width, static_cast<std::uint64_t>(std::max(advance, 0)));
      at += step.length;
    }
  }
  return static_cast<std::int32_t>(std::min<std::uint64_t>(width, INT32_MAX));
}

void RecordingCanvas::draw_image(Image image, std::int32_t x, std::int32_t y) {
  (void)image;
  primitives_.push_back("image logo " + std::to_string(x) + " " + std::to_string(y));
}

void RecordingCanvas::apply_text_clip(const std::optional<Rect>& clip) {
  primitives_.push_back(clip ? "clip " + rect_text(*clip) : std::string("clip none"));
}

void RecordingCanvas::on_overlay_started() { primitives_.push_back("overlay"); }

std::string RecordingCanvas::dump() const {
  std::string out;
  for (const std::string& line : primitives_) out += line + "\n";
  for (const HitRegion& region : hit_regions()) {
    out += "region " + rect_text(region.rect) + " action=" + std::to_string(region.action) +
           " payload=" + std::to_string(region.payload) + "\n";
  }
  return out;
}

void RecordingCanvas::clear() {
  primitives_.clear();
  begin_frame();
  primitives_.clear();
}

}  // namespace tarnwick
