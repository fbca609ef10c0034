// The folder browser: a modal overlay that lists one folder at a time and
// returns a chosen path into the target field or the backup destination. Its
// state, listing, actions, keys and drawing live in browser.cpp and
// browser_listing.cpp; every read goes through the filesystem layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_linux/ui/canvas.h"

namespace tarnwick {

struct UiState;
struct DecodedKey;
enum class UiAction : std::uint8_t;

// A listing keeps at most this many entries.
inline constexpr std::size_t kMaxBrowserEntries = 50'000;
// A second click on the same row sooner than this opens it (monotonic clock).
inline constexpr std::int64_t kDoubleClickMilliseconds = 450;
inline constexpr std::int32_t kBrowserRowHeight = 26;

// What the chosen folder becomes: the target, or the backup destination.
enum class BrowserMode : std::uint8_t { Target, BackupFolder };

// The browser's keyboard focus stops, in Tab order.
enum class BrowserFocus : std::uint8_t { PathField, List, Up, Home, ShowHidden, OpenFolder, Cancel, Use };
inline constexpr std::size_t kBrowserFocusStops = 8;

struct BrowserRow {
  std::string name;  // the bytes the folder holds, not necessarily UTF-8
  bool is_folder = false;
  bool is_link = false;
};

struct BrowserClick {
  std::size_t row = 0;
  std::int64_t at_ms = 0;
};

struct BrowserState {
  bool open = false;
  BrowserMode mode = BrowserMode::Target;
  std::string current_folder;  // absolute, without links in it
  std::vector<BrowserRow> rows;  // sorted: folders first, then by lower-case name
  std::optional<std::size_t> selected_row;
  std::size_t first_row = 0;  // the first visible row; clamped when drawn
  std::optional<std::string> message;
  std::optional<BrowserClick> last_click;
  bool show_hidden = false;
  BrowserFocus focus = BrowserFocus::PathField;
  std::size_t visible_rows = 1;  // of the last drawn frame, for keeping the selection in view
};

// --- listing (browser_listing.cpp) -------------------------------------------

struct FolderListing {
  std::vector<BrowserRow> rows;
  std::optional<std::string> message;  // the last error or the limit, when any
};

enum class ListedKinds : std::uint8_t { FilesAndFolders, FoldersOnly };
enum class HiddenNames : std::uint8_t { Skip, Show };

// Reads one folder through the filesystem layer and sorts it.
FolderListing list_folder(const std::string& folder, ListedKinds kinds, HiddenNames hidden);
// Folders first; within each group by the full lower-case form of the name,
// compared byte by byte; stable.
void sort_browser_rows(std::vector<BrowserRow>& rows);
// The absolute form of an existing folder named by text, with every link
// resolved; relative texts are taken from base. Nothing when text names no folder.
std::optional<std::string> resolve_folder(std::string_view text, const std::string& base);
// The lexical parent of a path text ("" when it has none).
std::string parent_text(std::string_view path);
std::string join_path(const std::string& folder, std::string_view name);

// --- state and actions (browser.cpp) ----------------------------------------

// Opens the browser in a mode, from the text the mode starts at.
void open_browser(UiState& ui, BrowserMode mode);
// The path a row stands for.
std::string browser_row_path(const BrowserState& browser, std::size_t row);
// The path "Use" would take now, if any: never a link, never a path that is
// not UTF-8, and in backup mode never a file.
std::optional<std::string> browser_chosen_path(const BrowserState& browser);
// Makes path the current folder and lists it, or sets the navigation message.
void browser_navigate(UiState& ui, std::string_view path);
// Actions 26-32; payload is a row index for 32.
void dispatch_browser_action(UiState& ui, UiAction action, std::uint32_t payload, std::int64_t now_ms);
// Wheel turns over the list box; rows is negative for up.
void scroll_browser(UiState& ui, Size window, std::int32_t x, std::int32_t y, std::int64_t rows);
// Keys while the browser is open; false when the key belongs to the path
// field's editing (the caller's focused-field step).
bool handle_browser_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms);

// --- drawing (browser.cpp) ----------------------------------------------------

struct BrowserLayout {
  Rect dialog;
  Rect path_field;
  Rect up;
  Rect home;
  Rect show_hidden_focus;
  Rect open_folder;
  Rect list;
  Rect cancel;
  Rect use;
  std::size_t visible_rows = 1;
};

BrowserLayout browser_layout(Size window);
// The browser over everything drawn so far; restarts the regions.
void draw_browser(Canvas& canvas, UiState& ui, Size window);

}  // namespace tarnwick
