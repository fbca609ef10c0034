// The folder browser's state, actions, keys and drawing: opening at the
// first folder that exists, navigation, the chosen path, double clicks on the
// monotonic clock, the list's keys and wheel, and the overlay itself.
#include "native_linux/ui/browser.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <utility>

#include "common/fs.h"
#include "common/utf8.h"
#include "native_linux/ui/keyboard.h"
#include "native_linux/ui/screen_layout.h"

namespace tarnwick {
namespace {

constexpr std::string_view kNavigationMessage = "Choose an accessible folder to navigate.";

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

void act(UiState& ui, UiAction action, std::int64_t now_ms, std::uint32_t payload = 0) {
  dispatch_action(ui, action, payload, now_ms);
}

// Lists the current folder again: selection, scroll, message and last click start afresh.
void list_current_folder(UiState& ui) {
  BrowserState& browser = ui.browser;
  FolderListing listing =
      list_folder(browser.current_folder,
                  browser.mode == BrowserMode::BackupFolder ? ListedKinds::FoldersOnly : ListedKinds::FilesAndFolders,
                  browser.show_hidden ? HiddenNames::Show : HiddenNames::Skip);
  browser.rows = std::move(listing.rows);
  browser.message = std::move(listing.message);
  browser.selected_row.reset();
  browser.first_row = 0;
  browser.last_click.reset();
  set_field_text(ui, kFieldBrowserPath, browser.current_folder);
  if (ui.focused_field == kFieldBrowserPath) ui.cursor = ui.fields[kFieldBrowserPath].size();
}

// The text the mode starts from: the target, or the destination (else the target's parent).
std::string start_text(const UiState& ui, BrowserMode mode) {
  const std::string target = expand_home(ui.fields[kFieldTarget]);
  if (mode == BrowserMode::Target) return target;
  const std::string& destination = ui.fields[kFieldBackupDestination];
  return is_blank(destination) ? parent_text(target) : expand_home(destination);
}

// The start text, its parent, the current directory, the root: the first that is a folder.
std::string opening_folder(const std::string& start) {
  // Relative start texts mean what they mean to the engine: relative to the
  // process's current directory, which an empty base stands for.
  if (auto folder = resolve_folder(start, {})) return *folder;
  if (auto folder = resolve_folder(parent_text(start), {})) return *folder;
  if (const auto working = sys::getcwd()) {
    if (auto folder = resolve_folder(*working, {})) return *folder;
  }
  return "/";
}

void close_browser(UiState& ui) {
  ui.browser = BrowserState{};
  clear_focus(ui);
}

void use_chosen_path(UiState& ui) {
  const std::optional<std::string> chosen = browser_chosen_path(ui.browser);
  if (!chosen) return;
  set_field_text(ui, ui.browser.mode == BrowserMode::BackupFolder ? kFieldBackupDestination : kFieldTarget, *chosen);
  close_browser(ui);
}

void go_up(UiState& ui) {
  if (ui.browser.current_folder == "/") return;
  browser_navigate(ui, parent_text(ui.browser.current_folder));
}

// An unset, empty or relative HOME names no folder the user could mean.
void go_home(UiState& ui) {
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    ui.browser.message = std::string(kNavigationMessage);
    return;
  }
  browser_navigate(ui, home);
}

void open_chosen_folder(UiState& ui) {
  const std::optional<std::string> chosen = browser_chosen_path(ui.browser);
  if (!chosen) {
    ui.browser.message = std::string(kNavigationMessage);
    return;
  }
  browser_navigate(ui, *chosen);
}

// A click selects; a second click on the same row soon after opens a folder or uses a file.
void click_row(UiState& ui, std::size_t row, std::int64_t now_ms) {
  BrowserState& browser = ui.browser;
  if (row >= browser.rows.size()) return;
  const bool double_click = browser.last_click && browser.last_click->row == row &&
                            now_ms >= browser.last_click->at_ms &&
                            now_ms - browser.last_click->at_ms < kDoubleClickMilliseconds;
  browser.selected_row = row;
  browser.focus = BrowserFocus::List;
  if (!double_click) {
    browser.last_click = BrowserClick{row, now_ms};
    return;
  }
  browser.last_click.reset();
  const BrowserRow& clicked = browser.rows[row];
  if (clicked.is_link) return;
  if (clicked.is_folder) {
    browser_navigate(ui, browser_row_path(browser, row));
  } else {
    use_chosen_path(ui);
  }
}

// Return in the path field: in target mode an existing regular file is used
// as it is (through its folder's resolved path, so no link is ever handed
// on); anything else is navigated to.
void enter_typed_path(UiState& ui) {
  BrowserState& browser = ui.browser;
  const std::string typed = expand_home(ui.fields[kFieldBrowserPath]);
  if (browser.mode == BrowserMode::Target && !typed.empty()) {
    const std::string absolute = typed.starts_with('/') ? typed : join_path(browser.current_folder, typed);
    const std::string name(absolute.substr(absolute.rfind('/') + 1));
    if (const auto folder = resolve_folder(parent_text(absolute), browser.current_folder); folder && !name.empty()) {
      const std::string file = join_path(*folder, name);
      const auto status = sys::lstat(file);
      if (status && S_ISREG(status->st_mode) && is_valid_utf8(file)) {
        set_field_text(ui, kFieldTarget, file);
        close_browser(ui);
        return;
      }
    }
  }
  browser_navigate(ui, typed);
}

// --- keys -------------------------------------------------------------------------

void cycle_focus(UiState& ui, bool backwards) {
  const auto index = static_cast<std::size_t>(ui.browser.focus);
  const std::size_t next = (index + (backwards ? kBrowserFocusStops - 1 : 1)) % kBrowserFocusStops;
  ui.browser.focus = static_cast<BrowserFocus>(next);
  if (ui.browser.focus == BrowserFocus::PathField) {
    focus_field(ui, kFieldBrowserPath);
  } else {
    clear_focus(ui);
  }
}

void keep_selection_visible(BrowserState& browser) {
  if (!browser.selected_row) return;
  const std::size_t row = *browser.selected_row;
  const std::size_t visible = std::max<std::size_t>(1, browser.visible_rows);
  if (row < browser.first_row) browser.first_row = row;
  if (row >= browser.first_row + visible) browser.first_row = row + 1 - visible;
}

void move_selection(BrowserState& browser, bool down) {
  if (browser.rows.empty()) return;
  std::size_t row = 0;
  if (browser.selected_row) {
    row = std::min(*browser.selected_row, browser.rows.size() - 1);
    if (down && row + 1 < browser.rows.size()) ++row;
    if (!down && row > 0) --row;
  }
  browser.selected_row = row;
  keep_selection_visible(browser);
}

// Return in the list: open the selected folder, use the selected file, or use
// the current folder when no row is selected.
void enter_in_list(UiState& ui) {
  const BrowserState& browser = ui.browser;
  if (browser.selected_row && *browser.selected_row < browser.rows.size()) {
    const BrowserRow& row = browser.rows[*browser.selected_row];
    if (row.is_link) return;
    if (row.is_folder) {
      browser_navigate(ui, browser_row_path(browser, *browser.selected_row));
      return;
    }
  }
  use_chosen_path(ui);
}

void handle_list_key(UiState& ui, const DecodedKey& key) {
  switch (key.key) {
    case Key::Down:
    case Key::Up:
      move_selection(ui.browser, key.key == Key::Down);
      return;
    case Key::BackSpace:
      go_up(ui);  // the list keeps the keyboard focus
      return;
    case Key::Return:
      enter_in_list(ui);
      return;
    default:
      return;
  }
}

// The action each focus stop from Up to Use activates, in focus order.
constexpr std::array<UiAction, kBrowserFocusStops - 2> kButtonFocusActions{
    UiAction::BrowserUp,         UiAction::BrowserHome,  UiAction::BrowserToggleHidden,
    UiAction::BrowserOpenFolder, UiAction::CloseBrowser, UiAction::UseBrowserChoice};

// --- drawing ------------------------------------------------------------------------

void draw_rows(Canvas& canvas, BrowserState& browser, const BrowserLayout& layout) {
  const Rect& list = layout.list;
  const std::size_t count = browser.rows.size();
  const std::size_t visible = layout.visible_rows;
  browser.visible_rows = visible;
  browser.first_row = std::min(browser.first_row, count > visible ? count - visible : 0);
  const std::size_t end = std::min(count, browser.first_row + visible);
  canvas.push_text_clip(list);
  for (std::size_t i = browser.first_row; i < end; ++i) {
    const BrowserRow& row = browser.rows[i];
    const std::int32_t row_y = list.y + 4 + static_cast<std::int32_t>(i - browser.first_row) * kBrowserRowHeight;
    const Rect area{list.x + 2, row_y, list.width - 4, kBrowserRowHeight - 1};
    if (browser.selected_row == i) canvas.fill_rect(area, palette::kRowHighlight);
    const std::string_view mark = row.is_link ? "[link] " : row.is_folder ? "[dir]  " : "       ";
    canvas.draw_text(list.x + 10, row_y + 18, std::string(mark) + row.name,
                     row.is_link ? palette::kTextSecondary : palette::kText, FontRole::Mono13);
    canvas.add_hit_region(HitRegion{area, code(UiAction::BrowserRowClicked), i});
  }
  canvas.pop_text_clip();
  draw_scroll_bar(canvas, Rect{list.x, list.y + 4, list.width - 2, static_cast<std::int32_t>(visible) * kBrowserRowHeight},
                  count, visible, browser.first_row);
}

void draw_footer(Canvas& canvas, const BrowserState& browser, const BrowserLayout& layout) {
  const Rect& dialog = layout.dialog;
  canvas.push_text_clip(Rect{dialog.x + 20, dialog.y + dialog.height - 80, dialog.width - 40, 20});
  if (browser.message) {
    canvas.draw_text(dialog.x + 20, dialog.y + dialog.height - 63, *browser.message, palette::kWarning,
                     FontRole::Mono11);
  } else {
    canvas.draw_text(dialog.x + 20, dialog.y + dialog.height - 63,
                     std::to_string(browser.rows.size()) +
                         " entries \u00B7 double-click folders to open \u00B7 links / non-UTF8 paths cannot be selected",
                     palette::kTextSecondary, FontRole::Mono11);
  }
  canvas.pop_text_clip();
}

void draw_focus_outline(Canvas& canvas, const UiState& ui, const BrowserLayout& layout) {
  if (ui.focused_field) return;
  const std::array<const Rect*, kBrowserFocusStops> outlined{
      nullptr, &layout.list, &layout.up, &layout.home, &layout.show_hidden_focus, &layout.open_folder,
      &layout.cancel, &layout.use};
  if (const Rect* rect = outlined[static_cast<std::size_t>(ui.browser.focus)]) canvas.outline_rect(*rect, palette::kText);
}

}  // namespace

std::string browser_row_path(const BrowserState& browser, std::size_t row) {
  return join_path(browser.current_folder, browser.rows[row].name);
}

std::optional<std::string> browser_chosen_path(const BrowserState& browser) {
  if (!browser.selected_row) {
    if (browser.current_folder.empty() || !is_valid_utf8(browser.current_folder)) return std::nullopt;
    return browser.current_folder;
  }
  const std::size_t row = *browser.selected_row;
  if (row >= browser.rows.size() || browser.rows[row].is_link) return std::nullopt;
  if (browser.mode == BrowserMode::BackupFolder && !browser.rows[row].is_folder) return std::nullopt;
  std::string path = browser_row_path(browser, row);
  if (!is_valid_utf8(path)) return std::nullopt;
  return path;
}

void open_browser(UiState& ui, BrowserMode mode) {
  ui.browser = BrowserState{};
  ui.browser.open = true;
  ui.browser.mode = mode;
  ui.browser.current_folder = opening_folder(start_text(ui, mode));
  if (mode == BrowserMode::BackupFolder) {
    focus_field(ui, kFieldBrowserPath);
  } else {
    clear_focus(ui);
  }
  list_current_folder(ui);
}

void browser_navigate(UiState& ui, std::string_view path) {
  std::optional<std::string> folder = resolve_folder(path, ui.browser.current_folder);
  if (!folder) {
    ui.browser.message = std::string(kNavigationMessage);
    return;
  }
  ui.browser.current_folder = std::move(*folder);
  list_current_folder(ui);
}

void dispatch_browser_action(UiState& ui, UiAction action, std::uint32_t payload, std::int64_t now_ms) {
  BrowserState& browser = ui.browser;
  if (!browser.open) return;
  switch (action) {
    case UiAction::CloseBrowser:
      close_browser(ui);
      return;
    case UiAction::UseBrowserChoice:
      browser.focus = BrowserFocus::Use;
      use_chosen_path(ui);
      return;
    case UiAction::BrowserUp:
      browser.focus = BrowserFocus::Up;
      go_up(ui);
      return;
    case UiAction::BrowserHome:
      browser.focus = BrowserFocus::Home;
      go_home(ui);
      return;
    case UiAction::BrowserOpenFolder:
      browser.focus = BrowserFocus::OpenFolder;
      open_chosen_folder(ui);
      return;
    case UiAction::BrowserToggleHidden:
      browser.focus = BrowserFocus::ShowHidden;
      browser.show_hidden = !browser.show_hidden;
      list_current_folder(ui);
      return;
    case UiAction::BrowserRowClicked:
      clear_focus(ui);
      click_row(ui, payload, now_ms);
      return;
    default:
      return;
  }
}

void scroll_browser(UiState& ui, Size window, std::int32_t x, std::int32_t y, std::int64_t rows) {
  if (!browser_layout(window).list.contains(x, y)) return;
  BrowserState& browser = ui.browser;
  const std::int64_t moved = static_cast<std::int64_t>(browser.first_row) + rows;
  // The upper clamp needs the visible rows, and happens when drawn.
  browser.first_row = static_cast<std::size_t>(std::max<std::int64_t>(0, moved));
}

bool handle_browser_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  if (key.key == Key::Tab) {
    cycle_focus(ui, (key.modifiers & kModifierShift) != 0);
    return true;
  }
  if (ui.focused_field == kFieldBrowserPath) {
    if (key.key != Key::Return) return false;
    enter_typed_path(ui);
    return true;
  }
  const BrowserFocus focus = ui.browser.focus;
  if (focus == BrowserFocus::PathField || focus == BrowserFocus::List) {
    handle_list_key(ui, key);
    return true;
  }
  if (key.key == Key::Return || key.key == Key::Space) {
    act(ui, kButtonFocusActions[static_cast<std::size_t>(focus) - static_cast<std::size_t>(BrowserFocus::Up)], now_ms);
  }
  return true;
}

BrowserLayout browser_layout(Size window) {
  BrowserLayout layout;
  layout.dialog = centred_overlay(window, 890, 700);
  const auto [x, y, width, height] = layout.dialog;
  layout.path_field = Rect{x + 20, y + 48, width - 40, 35};
  layout.up = Rect{x + 20, y + 94, 65, 28};
  layout.home = Rect{x + 94, y + 94, 70, 28};
  layout.show_hidden_focus = Rect{x + 182, y + 94, 170, 29};
  layout.open_folder = Rect{x + width - 167, y + 94, 147, 28};
  layout.list = Rect{x + 20, y + 136, width - 40, height - 225};
  layout.cancel = Rect{x + width - 300, y + height - 49, 115, 32};
  layout.use = Rect{x + width - 171, y + height - 49, 151, 32};
  layout.visible_rows = static_cast<std::size_t>(std::max(1, (height - 225 - 8) / kBrowserRowHeight));
  return layout;
}

void draw_browser(Canvas& canvas, UiState& ui, Size window) {
  BrowserState& browser = ui.browser;
  const BrowserLayout layout = browser_layout(window);
  const Rect& dialog = layout.dialog;
  const bool backup_mode = browser.mode == BrowserMode::BackupFolder;
  canvas.begin_overlay();
  canvas.fill_rect(dialog, palette::kPanel);
  canvas.outline_rect(dialog, palette::kAccentBright);
  canvas.draw_text(dialog.x + 20, dialog.y + 32, backup_mode ? "CHOOSE A BACKUP FOLDER" : "SELECT A FILE OR FOLDER",
                   palette::kText, FontRole::Sans16);
  draw_ui_field(canvas, ui, layout.path_field, kFieldBrowserPath, true);
  draw_button(canvas, layout.up, ButtonView{.label = "Up", .action = code(UiAction::BrowserUp)});
  draw_button(canvas, layout.home, ButtonView{.label = "Home", .action = code(UiAction::BrowserHome)});
  draw_checkbox(canvas, dialog.x + 187, dialog.y + 99,
                CheckboxView{.label = "Show hidden", .checked = browser.show_hidden,
                             .action = code(UiAction::BrowserToggleHidden)});
  draw_button(canvas, layout.open_folder, ButtonView{.label = "Open folder", .action = code(UiAction::BrowserOpenFolder)});
  canvas.fill_rect(layout.list, palette::kBackground);
  canvas.outline_rect(layout.list, palette::kBorder);
  draw_rows(canvas, browser, layout);
  draw_footer(canvas, browser, layout);
  draw_button(canvas, layout.cancel, ButtonView{.label = "Cancel", .action = code(UiAction::CloseBrowser)});
  draw_button(canvas, layout.use,
              ButtonView{.label = backup_mode ? "Use this folder" : "Use selected",
                         .action = code(UiAction::UseBrowserChoice),
                         .enabled = browser_chosen_path(browser).has_value(),
                         .style = ButtonStyle::Primary});
  draw_focus_outline(canvas, ui, layout);
}

}  // namespace tarnwick
