// The content settings panel: its state, the order of its rows and its keys.
// The panel's drawing and opening land with the panel itself; until then its
// button and Control+E open nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "content/content.h"

namespace tarnwick {

struct UiState;
struct DecodedKey;

// The encoding list shows every row of the encoding table, Automatic first.
inline constexpr std::size_t kEncodingRowCount = 56;
inline constexpr std::size_t kEncodingListRows = 8;

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

// Every key while the panel is open, the open encoding list first.
void handle_content_panel_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms);

}  // namespace tarnwick
