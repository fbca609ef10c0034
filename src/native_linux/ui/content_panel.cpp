// The content settings panel: opening, the keys of the mode row, the encoding
// row and its list, the length-changes box and Done; the list's wheel; and the
// panel's drawing with the list over it.
#include "native_linux/ui/content_panel.h"

#include <algorithm>
#include <vector>

#include "native_linux/ui/keyboard.h"
#include "native_linux/ui/screen_layout.h"

namespace tarnwick {

namespace {

constexpr std::size_t kEncodingPageStep = 8;
constexpr std::int32_t kEncodingRowHeight = 26;
constexpr std::array<std::string_view, kContentModeRows.size()> kModeLabels{"Text only", "Text + binary",
                                                                            "Binary only"};

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

void act(UiState& ui, UiAction action, std::int64_t now_ms, std::uint32_t payload = 0) {
  dispatch_action(ui, action, payload, now_ms);
}

void keep_highlight_visible(ContentPanelState& panel) {
  if (panel.encoding_highlight < panel.encoding_first_row) panel.encoding_first_row = panel.encoding_highlight;
  if (panel.encoding_highlight >= panel.encoding_first_row + kEncodingListRows) {
    panel.encoding_first_row = panel.encoding_highlight + 1 - kEncodingListRows;
  }
}

void move_highlight(ContentPanelState& panel, std::int64_t delta) {
  const auto last = static_cast<std::int64_t>(kEncodingRowCount - 1);
  const std::int64_t moved =
      std::clamp(static_cast<std::int64_t>(panel.encoding_highlight) + delta, std::int64_t{0}, last);
  panel.encoding_highlight = static_cast<std::size_t>(moved);
  keep_highlight_visible(panel);
}

void cycle_focus(UiState& ui, bool backwards) {
  std::vector<ContentFocus> order{ContentFocus::Modes, ContentFocus::Encoding};
  if (ui.content_mode != ContentMode::TextOnly) order.push_back(ContentFocus::LengthChanges);
  order.push_back(ContentFocus::Done);
  ContentFocus& focus = ui.content_panel.focus;
  const auto at = std::ranges::find(order, focus);
  if (at == order.end()) {
    focus = backwards ? order.back() : order.front();
    return;
  }
  const auto index = static_cast<std::size_t>(at - order.begin());
  focus = order[(index + (backwards ? order.size() - 1 : 1)) % order.size()];
}

void handle_encoding_list_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  ContentPanelState& panel = ui.content_panel;
  switch (key.key) {
    case Key::Escape:
      panel.encoding_list_open = false;
      return;
    case Key::Home:
      move_highlight(panel, -static_cast<std::int64_t>(kEncodingRowCount));
      return;
    case Key::End:
      move_highlight(panel, static_cast<std::int64_t>(kEncodingRowCount));
      return;
    case Key::Up:
      move_highlight(panel, -1);
      return;
    case Key::Down:
      move_highlight(panel, 1);
      return;
    case Key::PageUp:
      move_highlight(panel, -static_cast<std::int64_t>(kEncodingPageStep));
      return;
    case Key::PageDown:
      move_highlight(panel, static_cast<std::int64_t>(kEncodingPageStep));
      return;
    case Key::Space:
    case Key::Return:
      act(ui, UiAction::ChooseEncoding, now_ms, static_cast<std::uint32_t>(panel.encoding_highlight));
      return;
    case Key::Tab:
      panel.encoding_list_open = false;
      cycle_focus(ui, (key.modifiers & kModifierShift) != 0);
      return;
    default:
      return;
  }
}

void activate_focus(UiState& ui, std::uint32_t mode_row, std::int64_t now_ms) {
  switch (ui.content_panel.focus) {
    case ContentFocus::Modes:
      act(ui, UiAction::ChooseContentMode, now_ms, (mode_row + 1) % kContentModeRows.size());
      return;
    case ContentFocus::Encoding:
      act(ui, UiAction::ToggleEncodingList, now_ms);
      return;
    case ContentFocus::LengthChanges:
      act(ui, UiAction::ToggleBinaryLengthChanges, now_ms);
      return;
    case ContentFocus::Done:
      act(ui, UiAction::CloseContentSettings, now_ms);
      return;
  }
}

std::string_view encoding_label_at(std::size_t index) {
  const auto table = encoding_table();
  return index < table.size() ? table[index].label : "Choose an encoding";
}

void draw_mode_row(Canvas& canvas, const UiState& ui, const ContentPanelLayout& layout) {
  const std::size_t current = content_mode_row(ui.content_mode);
  for (std::size_t i = 0; i < kContentModeRows.size(); ++i) {
    const Rect& button = layout.mode_buttons[i];
    draw_button(canvas, button, ButtonView{.label = kModeLabels[i], .action = code(UiAction::ChooseContentMode),
                                           .payload = i});
    if (i != current) continue;
    canvas.fill_rect(Rect{button.x, button.y + 32, button.width, 3}, palette::kAccentBright);
    const ContentPanelState& panel = ui.content_panel;
    if (panel.focus == ContentFocus::Modes && !panel.encoding_list_open) canvas.outline_rect(button, palette::kText);
  }
}

void draw_encoding_selector(Canvas& canvas, const UiState& ui, const ContentPanelLayout& layout) {
  const Rect& box = layout.encoding_selector;
  const Rect& panel = layout.panel;
  canvas.fill_rect(box, palette::kControl);
  canvas.outline_rect(box, ui.content_panel.focus == ContentFocus::Encoding ? palette::kAccentBright : palette::kBorder);
  canvas.push_text_clip(Rect{panel.x + 33, panel.y + 184, panel.width - 83, 30});
  canvas.draw_text(panel.x + 34, panel.y + 205, encoding_label_at(ui.encoding_index), palette::kText, FontRole::Mono13);
  canvas.pop_text_clip();
  canvas.draw_text(panel.x + panel.width - 47, panel.y + 205, "\u25BE", palette::kText, FontRole::Mono13);
  canvas.add_hit_region(HitRegion{box, code(UiAction::ToggleEncodingList), 0});
}

void draw_length_changes(Canvas& canvas, const UiState& ui, const ContentPanelLayout& layout) {
  const Rect& panel = layout.panel;
  const std::int32_t left = layout.left;
  const bool binary = ui.content_mode != ContentMode::TextOnly;
  draw_checkbox(canvas, left, panel.y + 294,
                CheckboxView{.label = "Allow length changes in raw binary files",
                             .checked = ui.allow_binary_length_changes,
                             .action = code(UiAction::ToggleBinaryLengthChanges),
                             .enabled = binary});
  const ContentPanelState& state = ui.content_panel;
  if (state.focus == ContentFocus::LengthChanges && !state.encoding_list_open) {
    canvas.outline_rect(layout.length_changes_focus, palette::kText);
  }
  canvas.draw_text(left, panel.y + 339, "Equal-length binary replacement is the default.",
                   binary ? palette::kWarning : palette::kTextSecondary, FontRole::Mono13);
  canvas.draw_text(left, panel.y + 363, "Changing binary sizes can break offsets, checksums, or structured formats.",
                   palette::kTextSecondary, FontRole::Mono11);
  canvas.draw_text(left, panel.y + 383, "RSC7 resources: fixed-width literals only; hashes are not rebuilt.",
                   palette::kTextSecondary, FontRole::Mono11);
}

void draw_encoding_list(Canvas& canvas, ContentPanelState& state, const ContentPanelLayout& layout) {
  const Rect& list = layout.encoding_list;
  const Rect& panel = layout.panel;
  canvas.begin_overlay();
  canvas.fill_rect(list, palette::kControl);
  canvas.outline_rect(list, palette::kAccentBright);
  state.encoding_first_row = std::min(state.encoding_first_row, kEncodingListLastFirstRow);
  canvas.push_text_clip(Rect{list.x + 1, list.y + 1, list.width - 2, list.height - 2});
  for (std::size_t i = 0; i < kEncodingListRows; ++i) {
    const std::size_t index = state.encoding_first_row + i;
    const std::int32_t row_y = panel.y + 222 + static_cast<std::int32_t>(i) * kEncodingRowHeight;
    const Rect row{panel.x + 26, row_y, panel.width - 52, kEncodingRowHeight};
    if (index == state.encoding_highlight) canvas.fill_rect(row, palette::kRowHighlight);
    canvas.draw_text(panel.x + 36, row_y + 18, encoding_label_at(index), palette::kText, FontRole::Mono13);
    canvas.add_hit_region(HitRegion{row, code(UiAction::ChooseEncoding), index});
  }
  canvas.pop_text_clip();
  draw_scroll_bar(canvas, Rect{panel.x + panel.width - 30, panel.y + 224, kScrollBarWidth, 204}, kEncodingRowCount,
                  kEncodingListRows, state.encoding_first_row);
}

}  // namespace

void open_content_panel(UiState& ui) {
  ui.content_panel = ContentPanelState{};
  ui.content_panel.open = true;
  clear_focus(ui);
}

void toggle_encoding_list(UiState& ui) {
  ContentPanelState& panel = ui.content_panel;
  panel.encoding_list_open = !panel.encoding_list_open;
  panel.focus = ContentFocus::Encoding;
  panel.encoding_highlight = std::min(ui.encoding_index, kEncodingRowCount - 1);
  panel.encoding_first_row = panel.encoding_highlight >= 3 ? panel.encoding_highlight - 3 : 0;
}

void scroll_content_panel(UiState& ui, Size window, std::int32_t x, std::int32_t y, std::int64_t rows) {
  ContentPanelState& panel = ui.content_panel;
  if (!panel.encoding_list_open || !content_panel_layout(window).encoding_list.contains(x, y)) return;
  const auto moved = static_cast<std::int64_t>(panel.encoding_first_row) + rows;
  panel.encoding_first_row =
      static_cast<std::size_t>(std::clamp<std::int64_t>(moved, 0, static_cast<std::int64_t>(kEncodingListLastFirstRow)));
}

ContentPanelLayout content_panel_layout(Size window) {
  ContentPanelLayout layout;
  layout.panel = centred_overlay(window, 800, 500);
  const auto [x, y, width, height] = layout.panel;
  layout.left = x + 24;
  const std::int32_t column = (width - 48) / 3;
  for (std::size_t i = 0; i < layout.mode_buttons.size(); ++i) {
    layout.mode_buttons[i] = Rect{layout.left + static_cast<std::int32_t>(i) * column, y + 101, column - 6, 35};
  }
  layout.encoding_selector = Rect{layout.left, y + 181, width - 48, 36};
  layout.length_changes_focus = Rect{x + 21, y + 291, 24, 24};
  layout.done = Rect{x + width - 139, y + height - 50, 115, 33};
  layout.encoding_list = Rect{layout.left, y + 221, width - 48, 210};
  return layout;
}

void draw_content_panel(Canvas& canvas, UiState& ui, Size window) {
  const ContentPanelLayout layout = content_panel_layout(window);
  const Rect& panel = layout.panel;
  const std::int32_t left = layout.left;
  canvas.begin_overlay();
  canvas.fill_rect(panel, palette::kPanel);
  canvas.outline_rect(panel, palette::kAccentBright);
  canvas.draw_text(left, panel.y + 34, "FILE CONTENT SETTINGS", palette::kText, FontRole::Sans16);
  canvas.draw_text(left, panel.y + 59, "These settings affect file data. Name matching stays literal.",
                   palette::kTextSecondary, FontRole::Mono11);
  canvas.draw_text(left, panel.y + 89, "CONTENT MODE", palette::kTextSecondary, FontRole::Mono11);
  draw_mode_row(canvas, ui, layout);
  canvas.draw_text(left, panel.y + 169, "TEXT / BINARY LITERAL ENCODING", palette::kTextSecondary, FontRole::Mono11);
  draw_encoding_selector(canvas, ui, layout);
  canvas.draw_text(left, panel.y + 242, "Encoding controls text decoding and binary literal bytes.",
                   palette::kTextSecondary, FontRole::Mono11);
  canvas.draw_text(left, panel.y + 262,
                   "Auto covers Unicode / Windows-1252; choose other legacy encodings explicitly.",
                   palette::kTextSecondary, FontRole::Mono11);
  draw_length_changes(canvas, ui, layout);
  const std::int32_t bottom = panel.y + panel.height;
  canvas.draw_line(left, bottom - 65, panel.x + panel.width - 24, bottom - 65, palette::kBorder);
  canvas.draw_text(left, bottom - 29, "A fresh preview is required after every change.", palette::kTextSecondary,
                   FontRole::Mono11);
  draw_button(canvas, layout.done,
              ButtonView{.label = "Done", .action = code(UiAction::CloseContentSettings), .style = ButtonStyle::Primary});
  ContentPanelState& state = ui.content_panel;
  if (state.focus == ContentFocus::Done && !state.encoding_list_open) canvas.outline_rect(layout.done, palette::kText);
  if (state.encoding_list_open) draw_encoding_list(canvas, state, layout);
}

std::size_t content_mode_row(ContentMode mode) {
  const auto at = std::ranges::find(kContentModeRows, mode);
  return at == kContentModeRows.end() ? 0 : static_cast<std::size_t>(at - kContentModeRows.begin());
}

void handle_content_panel_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  if (ui.content_panel.encoding_list_open) {
    handle_encoding_list_key(ui, key, now_ms);
    return;
  }
  const ContentFocus focus = ui.content_panel.focus;
  const auto rows = static_cast<std::uint32_t>(kContentModeRows.size());
  const auto mode_row = static_cast<std::uint32_t>(content_mode_row(ui.content_mode));
  const auto encoding = static_cast<std::uint32_t>(ui.encoding_index);
  switch (key.key) {
    case Key::Left:
      if (focus == ContentFocus::Modes) act(ui, UiAction::ChooseContentMode, now_ms, (mode_row + rows - 1) % rows);
      return;
    case Key::Right:
      if (focus == ContentFocus::Modes) act(ui, UiAction::ChooseContentMode, now_ms, (mode_row + 1) % rows);
      return;
    case Key::Up:
      if (focus == ContentFocus::Encoding && encoding > 0) act(ui, UiAction::ChooseEncoding, now_ms, encoding - 1);
      return;
    case Key::Down:
      if (focus == ContentFocus::Encoding && encoding + 1 < kEncodingRowCount) {
        act(ui, UiAction::ChooseEncoding, now_ms, encoding + 1);
      }
      return;
    case Key::Escape:
      act(ui, UiAction::CloseContentSettings, now_ms);
      return;
    case Key::Tab:
      cycle_focus(ui, (key.modifiers & kModifierShift) != 0);
      return;
    case Key::Space:
    case Key::Return:
      activate_focus(ui, mode_row, now_ms);
      return;
    default:
      return;
  }
}

}  // namespace tarnwick
