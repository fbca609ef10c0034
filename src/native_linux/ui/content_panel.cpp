// The content settings panel's keys: the mode row, the encoding row and its
// list, the length-changes box and Done.
#include "native_linux/ui/content_panel.h"

#include <algorithm>
#include <vector>

#include "native_linux/ui/keyboard.h"

namespace tarnwick {

namespace {

constexpr std::size_t kEncodingPageStep = 8;

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

}  // namespace

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
