// Key routing, first match wins: content panel, confirmation or Backups
// panel, global shortcuts, Escape, browser, main screen, focused field.
#include "native_linux/keyboard.h"

#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "common/utf8.h"

namespace tarnwick {
namespace {

constexpr std::size_t kEncodingListRows = 8;
constexpr std::size_t kEncodingPageStep = 8;
constexpr std::int64_t kConfirmationPageLines = 8;
constexpr std::int64_t kReviewPageLines = 10;

bool has(const DecodedKey& key, unsigned modifier) { return (key.modifiers & modifier) != 0; }

// Shift, Control, Alt and the lock and group keys arrive as presses of their
// own before the chord they start; they are not edits and must not end the
// whole-text selection that Control+A has just made.
bool is_modifier_key(std::uint32_t keysym) {
  return (keysym >= XK_Shift_L && keysym <= XK_Hyper_R) || (keysym >= XK_ISO_Lock && keysym <= XK_ISO_Level5_Lock) ||
         keysym == XK_Mode_switch || keysym == XK_Num_Lock;
}

bool is_activate(const DecodedKey& key) { return key.keysym == XK_space || key.keysym == XK_Return; }

// The lower-case letter of a Control chord, or 0.
char control_letter(const DecodedKey& key) {
  if (!has(key, kModifierControl)) return 0;
  if (key.keysym >= 'a' && key.keysym <= 'z') return static_cast<char>(key.keysym);
  if (key.keysym >= 'A' && key.keysym <= 'Z') return static_cast<char>(key.keysym - 'A' + 'a');
  return 0;
}

void act(UiState& ui, UiAction action, std::int64_t now_ms, std::uint32_t payload = 0) {
  dispatch_action(ui, action, payload, now_ms);
}

// --- step 1: content settings panel ----------------------------------------

void keep_highlight_visible(UiState& ui) {
  if (ui.encoding_highlight < ui.encoding_first_row) ui.encoding_first_row = ui.encoding_highlight;
  if (ui.encoding_highlight >= ui.encoding_first_row + kEncodingListRows) {
    ui.encoding_first_row = ui.encoding_highlight + 1 - kEncodingListRows;
  }
}

void move_highlight(UiState& ui, std::int64_t delta) {
  const auto last = static_cast<std::int64_t>(kEncodingRowCount - 1);
  const std::int64_t moved = std::clamp(static_cast<std::int64_t>(ui.encoding_highlight) + delta, std::int64_t{0}, last);
  ui.encoding_highlight = static_cast<std::size_t>(moved);
  keep_highlight_visible(ui);
}

void cycle_content_focus(UiState& ui, bool backwards) {
  std::vector<std::size_t> order{kContentFocusModes, kContentFocusEncoding};
  if (ui.content_mode != 0) order.push_back(kContentFocusLengthChanges);
  order.push_back(kContentFocusDone);
  const auto at = std::ranges::find(order, ui.content_focus);
  if (at == order.end()) {
    ui.content_focus = backwards ? order.back() : order.front();
    return;
  }
  const auto index = static_cast<std::size_t>(at - order.begin());
  ui.content_focus = order[(index + (backwards ? order.size() - 1 : 1)) % order.size()];
}

void handle_encoding_list_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  switch (key.keysym) {
    case XK_Escape:
      ui.encoding_list_open = false;
      return;
    case XK_Home:
      move_highlight(ui, -static_cast<std::int64_t>(kEncodingRowCount));
      return;
    case XK_End:
      move_highlight(ui, static_cast<std::int64_t>(kEncodingRowCount));
      return;
    case XK_Up:
      move_highlight(ui, -1);
      return;
    case XK_Down:
      move_highlight(ui, 1);
      return;
    case XK_Prior:
      move_highlight(ui, -static_cast<std::int64_t>(kEncodingPageStep));
      return;
    case XK_Next:
      move_highlight(ui, static_cast<std::int64_t>(kEncodingPageStep));
      return;
    case XK_space:
    case XK_Return:
      act(ui, UiAction::ChooseEncoding, now_ms, static_cast<std::uint32_t>(ui.encoding_highlight));
      return;
    case XK_Tab:
      ui.encoding_list_open = false;
      cycle_content_focus(ui, has(key, kModifierShift));
      return;
    default:
      return;
  }
}

void handle_content_panel_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  if (ui.encoding_list_open) {
    handle_encoding_list_key(ui, key, now_ms);
    return;
  }
  const auto mode = static_cast<std::uint32_t>(ui.content_mode);
  const auto encoding = static_cast<std::uint32_t>(ui.encoding_index);
  switch (key.keysym) {
    case XK_Left:
      if (ui.content_focus == kContentFocusModes) act(ui, UiAction::ChooseContentMode, now_ms, (mode + 2) % 3);
      return;
    case XK_Right:
      if (ui.content_focus == kContentFocusModes) act(ui, UiAction::ChooseContentMode, now_ms, (mode + 1) % 3);
      return;
    case XK_Up:
      if (ui.content_focus == kContentFocusEncoding && encoding > 0) {
        act(ui, UiAction::ChooseEncoding, now_ms, encoding - 1);
      }
      return;
    case XK_Down:
      if (ui.content_focus == kContentFocusEncoding && encoding + 1 < kEncodingRowCount) {
        act(ui, UiAction::ChooseEncoding, now_ms, encoding + 1);
      }
      return;
    case XK_Escape:
      act(ui, UiAction::CloseContentSettings, now_ms);
      return;
    case XK_Tab:
      cycle_content_focus(ui, has(key, kModifierShift));
      return;
    default:
      break;
  }
  if (!is_activate(key)) return;
  switch (ui.content_focus) {
    case kContentFocusModes:
      act(ui, UiAction::ChooseContentMode, now_ms, (mode + 1) % 3);
      return;
    case kContentFocusEncoding:
      act(ui, UiAction::ToggleEncodingList, now_ms);
      return;
    case kContentFocusLengthChanges:
      act(ui, UiAction::ToggleBinaryLengthChanges, now_ms);
      return;
    case kContentFocusDone:
      act(ui, UiAction::CloseContentSettings, now_ms);
      return;
    default:
      return;
  }
}

// --- step 2: confirmation or Backups panel ----------------------------------

constexpr std::array<std::size_t, 5> kConfirmationOrder{kConfirmFocusCancel, kConfirmFocusCheckbox,
                                                        kConfirmFocusDestination, kConfirmFocusBrowse,
                                                        kConfirmFocusApply};
constexpr std::array<std::size_t, 6> kBackupsOrder{kBackupsFocusCheckbox,    kBackupsFocusDestination,
                                                   kBackupsFocusBrowse,      kBackupsFocusBackUpNow,
                                                   kBackupsFocusCopyDetails, kBackupsFocusDone};

template <std::size_t N>
std::size_t next_in_order(const std::array<std::size_t, N>& order, std::size_t current, bool backwards) {
  const auto at = std::ranges::find(order, current);
  if (at == order.end()) return backwards ? order.back() : order.front();
  const auto index = static_cast<std::size_t>(at - order.begin());
  return order[(index + (backwards ? N - 1 : 1)) % N];
}

void cycle_overlay_focus(UiState& ui, bool backwards) {
  std::size_t& focus = ui.confirmation_open ? ui.confirmation_focus : ui.backups_focus;
  focus = ui.confirmation_open ? next_in_order(kConfirmationOrder, focus, backwards)
                               : next_in_order(kBackupsOrder, focus, backwards);
  const std::size_t destination = ui.confirmation_open ? kConfirmFocusDestination : kBackupsFocusDestination;
  if (focus == destination) {
    focus_field(ui, kFieldBackupDestination);
  } else {
    clear_focus(ui);
  }
}

void copy_overlay_details(UiState& ui) {
  std::string text;
  if (ui.confirmation_open) {
    text = compose_confirmation_text(ui).value_or("This preview is no longer available.");
  } else {
    text = compose_backup_choice_text(ui);
  }
  if (ui.status) text.append("\n\n").append(ui.status->message);
  take_clipboard(ui, std::move(text));
}

void activate_overlay_focus(UiState& ui, std::int64_t now_ms) {
  if (ui.confirmation_open) {
    switch (ui.confirmation_focus) {
      case kConfirmFocusCancel:
      case kConfirmFocusDestination:
        act(ui, UiAction::CancelConfirmation, now_ms);
        return;
      case kConfirmFocusApply:
        act(ui, UiAction::ConfirmApply, now_ms);
        return;
      case kConfirmFocusCheckbox:
        act(ui, UiAction::ToggleBackupBeforeApply, now_ms);
        return;
      case kConfirmFocusBrowse:
        act(ui, UiAction::BrowseBackupFolder, now_ms);
        return;
      default:
        return;
    }
  }
  switch (ui.backups_focus) {
    case kBackupsFocusCheckbox:
      act(ui, UiAction::ToggleBackupBeforeApply, now_ms);
      return;
    case kBackupsFocusDestination:
    case kBackupsFocusDone:
      act(ui, UiAction::CloseBackupsPanel, now_ms);
      return;
    case kBackupsFocusBrowse:
      act(ui, UiAction::BrowseBackupFolder, now_ms);
      return;
    case kBackupsFocusBackUpNow:
      act(ui, UiAction::BackUpNow, now_ms);
      return;
    case kBackupsFocusCopyDetails:
      act(ui, UiAction::CopyDetails, now_ms);
      return;
    default:
      return;
  }
}

// True when the key was consumed by the open dialog.
bool handle_dialog_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  if (key.keysym == XK_Tab) {
    cycle_overlay_focus(ui, has(key, kModifierShift));
    return true;
  }
  if (key.keysym == XK_Escape) {
    act(ui, ui.confirmation_open ? UiAction::CancelConfirmation : UiAction::CloseBackupsPanel, now_ms);
    return true;
  }
  if (ui.confirmation_open && (key.keysym == XK_Prior || key.keysym == XK_Next)) {
    const std::int64_t step = key.keysym == XK_Prior ? -kConfirmationPageLines : kConfirmationPageLines;
    ui.confirmation_scroll = std::max<std::int64_t>(0, ui.confirmation_scroll + step);
    return true;
  }
  if (ui.focused_field == kFieldBackupDestination) return key.keysym == XK_Return;
  if (control_letter(key) == 'c') {
    copy_overlay_details(ui);
    return true;
  }
  if (is_activate(key)) activate_overlay_focus(ui, now_ms);
  return true;
}

// --- steps 3 to 6 ------------------------------------------------------------

// True when the key was a global shortcut.
bool handle_shortcut(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  const char letter = control_letter(key);
  const bool dialog_open = ui.browser_open || ui.confirmation_open || ui.backups_panel_open;
  if (letter == 'b') {
    if (!dialog_open) act(ui, UiAction::OpenBackupsPanel, now_ms);
    return true;
  }
  if (letter == 'e') {
    if (ui.edit_file_contents && !dialog_open) act(ui, UiAction::OpenContentSettings, now_ms);
    return true;
  }
  // The review pane's buttons from the keyboard, so that a preview can be paged
  // and applied without a mouse: Control+Return opens the confirmation (under the
  // Apply button's own enabling rule), Control+Page Up/Down turn the pages.
  if (has(key, kModifierControl) && !dialog_open) {
    switch (key.keysym) {
      case XK_Return:
        act(ui, UiAction::ApplyReviewedChanges, now_ms);
        return true;
      case XK_Prior:
        act(ui, UiAction::PreviousPage, now_ms);
        return true;
      case XK_Next:
        act(ui, UiAction::NextPage, now_ms);
        return true;
      default:
        break;
    }
  }
  return false;
}

void handle_unfocused_main_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  switch (key.keysym) {
    case XK_Tab: {
      const std::vector<std::size_t> cycle = main_field_cycle(ui);
      focus_field(ui, has(key, kModifierShift) ? cycle.back() : cycle.front());
      return;
    }
    case XK_Return:
      act(ui, UiAction::PreviewChanges, now_ms);
      return;
    case XK_Prior:
      ui.review_scroll = std::max<std::int64_t>(0, ui.review_scroll - kReviewPageLines);
      return;
    case XK_Next:
      ui.review_scroll += kReviewPageLines;
      return;
    default:
      if (control_letter(key) == 'c') act(ui, UiAction::CopyReview, now_ms);
      return;
  }
}

// --- step 7: the focused field -----------------------------------------------

void move_in_main_cycle(UiState& ui, bool backwards) {
  const std::vector<std::size_t> cycle = main_field_cycle(ui);
  const auto at = std::ranges::find(cycle, *ui.focused_field);
  std::size_t next = backwards ? cycle.back() : cycle.front();
  if (at != cycle.end()) {
    const auto index = static_cast<std::size_t>(at - cycle.begin());
    next = cycle[(index + (backwards ? cycle.size() - 1 : 1)) % cycle.size()];
  }
  focus_field(ui, next);
}

void handle_field_control_key(UiState& ui, char letter, std::size_t field, bool whole) {
  switch (letter) {
    case 'a':
      ui.whole_text_selected = true;
      ui.cursor = ui.fields[field].size();
      return;
    case 'c':
    case 'x':
      if (!whole) return;
      take_clipboard(ui, ui.fields[field]);
      if (letter == 'x') set_field_text(ui, field, {});
      ui.cursor = ui.fields[field].size();
      return;
    case 'v':
      // The text arrives later from the other client; remember where it goes.
      ui.pending_paste = PendingPaste{field, whole};
      ui.paste_request_pending = true;
      return;
    default:
      return;
  }
}

void handle_field_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  const std::size_t field = *ui.focused_field;
  const std::string& text = ui.fields[field];
  // Every key but Control+A ends the whole-text selection.
  const bool whole = std::exchange(ui.whole_text_selected, false);
  if (has(key, kModifierControl)) {
    handle_field_control_key(ui, control_letter(key), field, whole);
    return;
  }
  switch (key.keysym) {
    case XK_Tab:
      if (field <= kFieldExtensions) move_in_main_cycle(ui, has(key, kModifierShift));
      return;
    case XK_Return:
      if (field <= kFieldExtensions) act(ui, UiAction::PreviewChanges, now_ms);
      return;
    case XK_Home:
      ui.cursor = 0;
      return;
    case XK_End:
      ui.cursor = text.size();
      return;
    case XK_Left:
      ui.cursor = whole ? 0 : previous_boundary(text, ui.cursor);
      return;
    case XK_Right:
      ui.cursor = whole ? text.size() : next_boundary(text, ui.cursor);
      return;
    case XK_BackSpace:
    case XK_Delete: {
      if (whole) {
        set_field_text(ui, field, {});
        ui.cursor = 0;
        return;
      }
      const std::size_t at = floor_boundary(text, ui.cursor);
      const std::size_t from = key.keysym == XK_BackSpace ? previous_boundary(text, at) : at;
      const std::size_t to = key.keysym == XK_BackSpace ? at : next_boundary(text, at);
      if (from == to) return;
      std::string updated = text.substr(0, from) + text.substr(to);
      set_field_text(ui, field, std::move(updated));
      ui.cursor = from;
      return;
    }
    default:
      break;
  }
  if (has(key, kModifierAlt) || key.text.empty()) return;
  ui.whole_text_selected = whole;
  insert_text(ui, key.text);
  ui.whole_text_selected = false;
}

}  // namespace

std::vector<std::size_t> main_field_cycle(const UiState& ui) {
  std::vector<std::size_t> cycle{kFieldTarget, kFieldFind, kFieldReplacement};
  if (ui.include_folder_contents && !ui.unlimited_depth) cycle.push_back(kFieldDepth);
  if (ui.extension_filter != 0) cycle.push_back(kFieldExtensions);
  return cycle;
}

void handle_key(UiState& ui, const DecodedKey& raw_key, std::int64_t now_ms) {
  if (ui.worker.busy() || is_modifier_key(raw_key.keysym)) return;
  DecodedKey key = raw_key;
  if (key.keysym == XK_ISO_Left_Tab) key.keysym = XK_Tab;

  if (ui.content_panel_open) {
    handle_content_panel_key(ui, key, now_ms);
    return;
  }
  if (!ui.browser_open && (ui.confirmation_open || ui.backups_panel_open)) {
    if (handle_dialog_key(ui, key, now_ms)) return;
  }
  if (handle_shortcut(ui, key, now_ms)) return;
  if (key.keysym == XK_Escape) {
    if (ui.browser_open) {
      act(ui, UiAction::CloseBrowser, now_ms);
    } else {
      clear_focus(ui);
    }
    return;
  }
  if (ui.browser_open) {
    if (ui.hooks.browser_key) ui.hooks.browser_key(ui, key);
    return;
  }
  if (!ui.focused_field) {
    handle_unfocused_main_key(ui, key, now_ms);
    return;
  }
  handle_field_key(ui, key, now_ms);
}

}  // namespace tarnwick
