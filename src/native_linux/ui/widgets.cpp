// Text field, button, checkbox, scroll bar and text wrapping, drawn through any Canvas.
#include <algorithm>
#include <vector>

#include "common/utf8.h"
#include "native_linux/ui/canvas.h"

namespace tarnwick {

namespace {

// Baseline that centres Mono13 text vertically in a control of this height.
std::int32_t control_baseline(Rect rect) { return rect.y + (rect.height + 10) / 2; }

// Character boundaries of text[0, end], end included.
std::vector<std::size_t> boundaries_up_to(std::string_view text, std::size_t end) {
  std::vector<std::size_t> boundaries;
  for (std::size_t offset = 0; offset < end; offset += character_length(text, offset)) boundaries.push_back(offset);
  boundaries.push_back(end);
  return boundaries;
}

// A line under the first occurrence of the mnemonic letter in a label drawn
// at (x, baseline), in the label's colour.
void underline_mnemonic(Canvas& canvas, std::int32_t x, std::int32_t baseline, std::string_view label, char mnemonic,
                        Colour colour) {
  if (mnemonic == 0) return;
  const auto at = std::ranges::find_if(label, [&](char c) { return ascii_lower(c) == ascii_lower(mnemonic); });
  if (at == label.end()) return;
  const auto offset = static_cast<std::size_t>(at - label.begin());
  const std::int32_t left = x + canvas.measure_text(label.substr(0, offset), FontRole::Mono13);
  const std::int32_t width = canvas.measure_text(label.substr(offset, 1), FontRole::Mono13);
  canvas.draw_line(left, baseline + 2, left + width - 1, baseline + 2, colour);
}

}  // namespace

std::size_t text_field_first_visible(Canvas& canvas, Rect rect, const TextFieldView& field) {
  const std::string_view text = field.text;
  const std::size_t visible_end = field.focused ? floor_boundary(text, field.cursor) : text.size();
  const std::int32_t available = rect.width - 22;
  if (canvas.measure_text(text.substr(0, visible_end), FontRole::Mono13) <= available) return 0;
  // The width from a boundary to the visible end shrinks as the boundary moves
  // right, so the earliest boundary that fits can be found by bisection.
  const std::vector<std::size_t> boundaries = boundaries_up_to(text, visible_end);
  std::size_t low = 0;
  std::size_t high = boundaries.size() - 1;  // the end itself always fits (width 0)
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    const std::string_view rest = text.substr(boundaries[middle], visible_end - boundaries[middle]);
    if (canvas.measure_text(rest, FontRole::Mono13) <= available) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return boundaries[low];
}

void draw_text_field(Canvas& canvas, Rect rect, const TextFieldView& field) {
  const bool focused = field.focused && field.enabled;
  canvas.fill_rect(rect, palette::kControl);
  Colour border = focused ? palette::kAccentBright : palette::kBorder;
  if (field.invalid) border = palette::kWarning;
  canvas.outline_rect(rect, border);
  if (focused && field.whole_text_selected) {
    canvas.fill_rect(Rect{rect.x + 5, rect.y + 5, rect.width - 10, rect.height - 10}, palette::kSelection);
  }

  TextFieldView shown = field;
  shown.focused = focused;
  const std::size_t first = text_field_first_visible(canvas, rect, shown);
  const std::int32_t text_x = rect.x + 9;
  const std::int32_t baseline = control_baseline(rect);
  canvas.push_text_clip(Rect{rect.x + 7, rect.y + 2, rect.width - 14, rect.height - 4});
  if (field.text.empty()) {
    canvas.draw_text(text_x, baseline, field.placeholder,
                     field.enabled ? palette::kTextSecondary : palette::kTextDisabledField, FontRole::Mono13);
  } else {
    canvas.draw_text(text_x, baseline, field.text.substr(first),
                     field.enabled ? palette::kText : palette::kTextDisabledField, FontRole::Mono13);
  }
  canvas.pop_text_clip();

  if (focused) {
    const std::size_t cursor = std::max(first, floor_boundary(field.text, field.cursor));
    const std::int32_t cursor_x =
        text_x + canvas.measure_text(field.text.substr(first, cursor - first), FontRole::Mono13);
    canvas.draw_line(cursor_x, rect.y + 9, cursor_x, rect.y + rect.height - 9, palette::kAccentBright);
  }
  if (field.enabled) canvas.add_hit_region(HitRegion{rect, field.focus_action, field.field_id});
}

void draw_button(Canvas& canvas, Rect rect, const ButtonView& button) {
  const bool primary = button.enabled && button.style == ButtonStyle::Primary;
  canvas.fill_rect(rect, primary ? palette::kAccent : palette::kControl);
  canvas.outline_rect(rect, primary ? palette::kAccent : palette::kBorder);
  const std::int32_t label_width = canvas.measure_text(button.label, FontRole::Mono13);
  const std::int32_t label_x = std::max(rect.x + (rect.width - label_width) / 2, rect.x + 5);
  const Colour label_colour = button.enabled ? palette::kText : palette::kLabelDisabled;
  canvas.draw_text(label_x, control_baseline(rect), button.label, label_colour, FontRole::Mono13);
  underline_mnemonic(canvas, label_x, control_baseline(rect), button.label, button.mnemonic, label_colour);
  if (button.enabled) canvas.add_hit_region(HitRegion{rect, button.action, button.payload});
}

void draw_checkbox(Canvas& canvas, std::int32_t x, std::int32_t y, const CheckboxView& checkbox) {
  const Rect box{x, y, kCheckboxSize, kCheckboxSize};
  if (checkbox.checked) {
    canvas.fill_rect(box, palette::kAccent);
    canvas.outline_rect(box, palette::kAccent);
    canvas.draw_line(x + 4, y + 9, x + 8, y + 13, palette::kText);
    canvas.draw_line(x + 8, y + 13, x + 14, y + 5, palette::kText);
  } else {
    canvas.fill_rect(box, palette::kControl);
    canvas.outline_rect(box, palette::kBorder);
  }
  const Colour label_colour = checkbox.enabled ? palette::kText : palette::kTextSecondary;
  canvas.draw_text(x + 29, y + 14, checkbox.label, label_colour, FontRole::Mono13);
  underline_mnemonic(canvas, x + 29, y + 14, checkbox.label, checkbox.mnemonic, label_colour);
  if (!checkbox.enabled) return;
  const std::int32_t label_width = canvas.measure_text(checkbox.label, FontRole::Mono13);
  canvas.add_hit_region(HitRegion{Rect{x, y, label_width + 29, 23}, checkbox.action, checkbox.payload});
}

ScrollThumb scroll_thumb(std::int32_t track_length, std::uint64_t total, std::uint64_t visible, std::uint64_t first) {
  if (track_length <= 0 || total <= visible) return ScrollThumb{0, std::max(track_length, 0)};
  using Wide = unsigned __int128;  // visible × track must not wrap for any list length
  const std::uint64_t track = static_cast<std::uint64_t>(track_length);
  const std::uint64_t proportional = static_cast<std::uint64_t>(Wide{visible} * track / total);
  const std::uint64_t length = std::min<std::uint64_t>(std::max<std::uint64_t>(12, proportional), track);
  const std::uint64_t last_first = total - visible;
  const std::uint64_t clamped_first = std::min(first, last_first);
  const std::uint64_t offset = static_cast<std::uint64_t>(Wide{track - length} * clamped_first / last_first);
  return ScrollThumb{static_cast<std::int32_t>(offset), static_cast<std::int32_t>(length)};
}

void draw_scroll_bar(Canvas& canvas, Rect list_area, std::uint64_t total, std::uint64_t visible,
                     std::uint64_t first) {
  if (total <= visible) return;
  const std::int32_t track_x = list_area.x + list_area.width - kScrollBarWidth;
  canvas.fill_rect(Rect{track_x, list_area.y, kScrollBarWidth, list_area.height}, palette::kBorder);
  const ScrollThumb thumb = scroll_thumb(list_area.height, total, visible, first);
  canvas.fill_rect(Rect{track_x, list_area.y + thumb.offset, kScrollBarWidth, thumb.length},
                   palette::kTextSecondary);
}

LineFit::LineFit(Canvas& canvas, FontRole role, std::size_t columns)
    : LineFit(columns) {
  canvas_ = &canvas;
  role_ = role;
  limit_ = static_cast<std::int64_t>(columns_) * kWrapPixelsPerColumn;
}

void LineFit::new_line() {
  count_ = 0;
  width_ = 0;
}

bool LineFit::starts_display_line(std::string_view character) {
  const std::int32_t advance = canvas_ != nullptr ? advance_of(character) : 0;
  const bool full = count_ > 0 && (count_ == columns_ || (canvas_ != nullptr && width_ + advance > limit_));
  if (full) new_line();
  ++count_;
  width_ += advance;
  return full;
}

// Each character is measured once per wrap: the faces have no kerning, so a
// line's width is the sum of its characters' advances.
std::int32_t LineFit::advance_of(std::string_view character) {
  const char32_t code_point = utf8_step(character, 0).code_point;
  if (code_point < ascii_advances_.size()) {
    std::int32_t& known = ascii_advances_[code_point];
    if (known == 0) known = std::max(1, canvas_->measure_text(character, role_));
    return known;
  }
  const auto [known, added] = other_advances_.try_emplace(code_point, 0);
  if (added) known->second = canvas_->measure_text(character, role_);
  return known->second;
}

namespace {

void wrap_line(std::string_view line, LineFit& fit, std::vector<std::string>& out) {
  std::string current;
  fit.new_line();
  const auto append = [&](std::string_view piece) {
    if (fit.starts_display_line(piece)) {
      out.push_back(std::move(current));
      current.clear();
    }
    current += piece;
  };
  // The line is valid UTF-8 (wrap_text made it so).
  for (std::size_t offset = 0; offset < line.size();) {
    const Utf8Step step = utf8_step(line, offset);
    if (step.code_point == U'\t') {
      for (int i = 0; i < 4; ++i) append(" ");
    } else if (!is_control_character(step.code_point)) {
      append(line.substr(offset, step.length));
    }
    offset += step.length;
  }
  out.push_back(std::move(current));
}

}  // namespace

std::vector<std::string> wrap_text(std::string_view text, LineFit& fit) {
  const std::string valid = lossy_utf8(text);
  const std::string_view rest_all = valid;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t feed = rest_all.find('\n', start);
    std::string_view line = rest_all.substr(start, feed == std::string_view::npos ? std::string_view::npos : feed - start);
    if (feed != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    wrap_line(line, fit, lines);
    if (feed == std::string_view::npos) break;
    start = feed + 1;
  }
  return lines;
}

std::vector<std::string> wrap_text(std::string_view text, std::size_t columns) {
  LineFit fit(columns);
  return wrap_text(text, fit);
}

std::vector<std::string> wrap_text(Canvas& canvas, std::string_view text, std::size_t columns, FontRole role) {
  LineFit fit(canvas, role, columns);
  return wrap_text(text, fit);
}

}  // namespace tarnwick
