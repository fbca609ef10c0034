// The content settings panel: its state, the order of its rows, opening,
// the encoding list's wheel and clicks, its keys and its drawing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/content.h"
#include "native_linux/ui/canvas.h"

namespace tarnwick {

struct UiState;
struct DecodedKey;

// The encoding list shows every row of the encoding table, Automatic first.
inline constexpr std::size_t kEncodingRowCount = 56;
inline constexpr std::size_t kEncodingListRows = 8;
// The list's first visible row is at most this: its last page shows the last row.
inline constexpr std::size_t kEncodingListLastFirstRow = kEncodingRowCount - kEncodingListRows;

// The content modes in the order the screen lists them (the request's codes differ).
inline constexpr std::array<ContentMode, 3> kContentModeRows{ContentMode::TextOnly, ContentMode::TextAndBinary,
                                                             ContentMode::BinaryOnly};
std::size_t content_mode_row(ContentMode mode);

// The panel's controls that take keyboard focus.
enum class ContentFocus : std::uint8_t { Modes, Encoding, LengthChanges, Done };

struct ContentPanelState {
  bool open = false;
  ContentFocus focus = ContentFocus::Modes;
  bool encoding_list_open = false;
  std::size_t encoding_highlight = 0;  // the row the list's keys move
  std::size_t encoding_first_row = 0;  // the first of the list's visible rows
};

// Action 12: opens with the list closed and the focus on the mode buttons.
void open_content_panel(UiState& ui);
// Action 14: opens the list at the current encoding, or closes it.
void toggle_encoding_list(UiState& ui);
// Every key while the panel is open, the open encoding list first.
void handle_content_panel_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms);
// Wheel turns while the panel is open: only the open list scrolls, by rows.
void scroll_content_panel(UiState& ui, Size window, std::int32_t x, std::int32_t y, std::int64_t rows);

struct ContentPanelLayout {
  Rect panel;
  std::int32_t left = 0;  // X, the panel's left margin
  std::array<Rect, 3> mode_buttons;
  Rect encoding_selector;
  Rect length_changes_focus;
  Rect done;
  Rect encoding_list;
};

ContentPanelLayout content_panel_layout(Size window);
// The panel, and the open list over it; each restarts the regions.
void draw_content_panel(Canvas& canvas, UiState& ui, Size window);

}  // namespace tarnwick
