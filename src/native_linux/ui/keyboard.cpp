// Key routing, first match wins: content panel, confirmation or Backups
// panel, global shortcuts, Escape, browser, main screen, focused field.
#include "native_linux/ui/keyboard.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "common/utf8.h"

namespace tarnwick {
namespace {

constexpr std::int64_t kConfirmationPageLines = 8;
constexpr std::int64_t kReviewPageLines = 10;

bool has(const DecodedKey& key, unsigned modifier) { return (key.modifiers & modifier) != 0; }

bool is_activate(const DecodedKey& key) { return key.key == Key::Space || key.key == Key::Return; }

// The lower-case letter of a Control chord, or 0.
char control_letter(const DecodedKey& key) {
  return has(key, kModifierControl) && key.key == Key::Letter ? key.letter : 0;
}

void act(UiState& ui, UiAction action, std::int64_t now_ms, std::uint32_t payload = 0) {
  dispatch_action(ui, action, payload, now_ms);
}

// --- step 2: confirmation or Backups panel ----------------------------------

constexpr std::array<ConfirmFocus, 5> kConfirmationOrder{ConfirmFocus::Cancel, ConfirmFocus::Checkbox,
                                                         ConfirmFocus::Destination, ConfirmFocus::Browse,
                                                         ConfirmFocus::Apply};
constexpr std::array<BackupsFocus, 6> kBackupsOrder{BackupsFocus::Checkbox,    BackupsFocus::Destination,
                                                    BackupsFocus::Browse,      BackupsFocus::BackUpNow,
                                                    BackupsFocus::CopyDetails, BackupsFocus::Done};

template <class Focus, std::size_t N>
Focus next_in_order(const std::array<Focus, N>& order, Focus current, bool backwards) {
  const auto at = std::ranges::find(order, current);
  if (at == order.end()) return backwards ? order.back() : order.front();
  const auto index = static_cast<std::size_t>(at - order.begin());
  return order[(index + (backwards ? N - 1 : 1)) % N];
}

// The destination field is one of the dialog's focus stops: it takes the text focus.
void cycle_overlay_focus(UiState& ui, bool backwards) {
  bool on_destination = false;
  if (ui.confirmation.open) {
    ConfirmFocus& focus = ui.confirmation.focus;
    focus = next_in_order(kConfirmationOrder, focus, backwards);
    on_destination = focus == ConfirmFocus::Destination;
  } else {
    BackupsFocus& focus = ui.backups_panel.focus;
    focus = next_in_order(kBackupsOrder, focus, backwards);
    on_destination = focus == BackupsFocus::Destination;
  }
  if (on_destination) {
    focus_field(ui, kFieldBackupDestination);
  } else {
    clear_focus(ui);
  }
}

void copy_overlay_details(UiState& ui) {
  if (ui.confirmation.open) {
    take_clipboard(ui, compose_confirmation_copy_text(ui));
    return;
  }
  take_clipboard(ui, compose_backup_details_text(ui));
}

void activate_confirmation_focus(UiState& ui, std::int64_t now_ms) {
  switch (ui.confirmation.focus) {
    case ConfirmFocus::Cancel:
    case ConfirmFocus::Destination:
      act(ui, UiAction::CancelConfirmation, now_ms);
      return;
    case ConfirmFocus::Apply:
      act(ui, UiAction::ConfirmApply, now_ms);
      return;
    case ConfirmFocus::Checkbox:
      act(ui, UiAction::ToggleBackupBeforeApply, now_ms);
      return;
    case ConfirmFocus::Browse:
      act(ui, UiAction::BrowseBackupFolder, now_ms);
      return;
  }
}

void activate_backups_focus(UiState& ui, std::int64_t now_ms) {
  switch (ui.backups_panel.focus) {
    case BackupsFocus::Checkbox:
      act(ui, UiAction::ToggleBackupBeforeApply, now_ms);
      return;
    case BackupsFocus::Destination:
    case BackupsFocus::Done:
      act(ui, UiAction::CloseBackupsPanel, now_ms);
      return;
    case BackupsFocus::Browse:
      act(ui, UiAction::BrowseBackupFolder, now_ms);
      return;
    case BackupsFocus::BackUpNow:
      act(ui, UiAction::BackUpNow, now_ms);
      return;
    case BackupsFocus::CopyDetails:
      act(ui, UiAction::CopyDetails, now_ms);
      return;
  }
}

// True when the key was consumed by the open dialog.
bool handle_dialog_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  if (key.key == Key::Tab) {
    cycle_overlay_focus(ui, has(key, kModifierShift));
    return true;
  }
  if (key.key == Key::Escape) {
    act(ui, ui.confirmation.open ? UiAction::CancelConfirmation : UiAction::CloseBackupsPanel, now_ms);
    return true;
  }
  if (ui.confirmation.open && (key.key == Key::PageUp || key.key == Key::PageDown)) {
    const std::int64_t step = key.key == Key::PageUp ? -kConfirmationPageLines : kConfirmationPageLines;
    ui.confirmation.scroll = std::max<std::int64_t>(0, ui.confirmation.scroll + step);
    return true;
  }
  if (ui.focused_field == kFieldBackupDestination) return key.key == Key::Return;
  if (control_letter(key) == 'c') {
    copy_overlay_details(ui);
    return true;
  }
  if (!is_activate(key)) return true;
  if (ui.confirmation.open) {
    activate_confirmation_focus(ui, now_ms);
  } else {
    activate_backups_focus(ui, now_ms);
  }
  return true;
}

// --- steps 3 to 6 ------------------------------------------------------------

// The lower-case letter of an Alt chord (Shift allowed, Control not), or 0.
char alt_letter(const DecodedKey& key) {
  const bool alt_only = has(key, kModifierAlt) && !has(key, kModifierControl);
  return alt_only && key.key == Key::Letter ? key.letter : 0;
}

// True when the key was a global shortcut.
bool handle_shortcut(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  if (const char letter = alt_letter(key); letter != 0 && activate_mnemonic(ui, letter, now_ms)) return true;
  const char letter = control_letter(key);
  const bool under_dialog = dialog_open(ui);
  if (letter == 'b') {
    if (!under_dialog) act(ui, UiAction::OpenBackupsPanel, now_ms);
    return true;
  }
  if (letter == 'r') {
    if (!under_dialog) act(ui, UiAction::RecoverInterruptedApply, now_ms);
    return true;
  }
  if (letter == 'e') {
    if (ui.edit_file_contents && !under_dialog) act(ui, UiAction::OpenContentSettings, now_ms);
    return true;
  }
  // The review pane's buttons from the keyboard, so that a preview can be paged
  // and applied without a mouse: Control+Return opens the confirmation (under the
  // Apply button's own enabling rule), Control+Page Up/Down turn the pages.
  if (has(key, kModifierControl) && !under_dialog) {
    switch (key.key) {
      case Key::Return:
        act(ui, UiAction::ApplyReviewedChanges, now_ms);
        return true;
      case Key::PageUp:
        act(ui, UiAction::PreviousPage, now_ms);
        return true;
      case Key::PageDown:
        act(ui, UiAction::NextPage, now_ms);
        return true;
      default:
        break;
    }
  }
  return false;
}

// Step 4: Escape closes the browser, or leaves the focused field.
bool handle_escape(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  if (key.key != Key::Escape) return false;
  if (ui.browser.open) {
    act(ui, UiAction::CloseBrowser, now_ms);
  } else {
    clear_focus(ui);
  }
  return true;
}

bool handle_unfocused_main_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  switch (key.key) {
    case Key::Tab: {
      const std::vector<std::size_t> cycle = main_field_cycle(ui);
      focus_field(ui, has(key, kModifierShift) ? cycle.back() : cycle.front());
      return true;
    }
    case Key::Return:
      act(ui, UiAction::PreviewChanges, now_ms);
      return true;
    case Key::PageUp:
      ui.review_scroll = std::max<std::int64_t>(0, ui.review_scroll - kReviewPageLines);
      return true;
    case Key::PageDown:
      ui.review_scroll += kReviewPageLines;
      return true;
    case Key::Home:
      scroll_review_to_top(ui);
      return true;
    case Key::End:
      scroll_review_to_bottom(ui);
      return true;
    default:
      // Control+C copies the shown page, Control+Shift+C every page;
      // Control+Z previews the undo of the last completed apply.
      if (control_letter(key) == 'c')
        act(ui, has(key, kModifierShift) ? UiAction::CopyAllPages : UiAction::CopyReview, now_ms);
      if (control_letter(key) == 'z') act(ui, UiAction::UndoLastApply, now_ms);
      return true;
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

void edit_field(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  const std::size_t field = *ui.focused_field;
  const std::string& text = ui.fields[field];
  // Every key but Control+A ends the whole-text selection.
  const bool whole = std::exchange(ui.whole_text_selected, false);
  if (has(key, kModifierControl)) {
    handle_field_control_key(ui, control_letter(key), field, whole);
    return;
  }
  switch (key.key) {
    case Key::Tab:
      if (field <= kFieldExtensions) move_in_main_cycle(ui, has(key, kModifierShift));
      return;
    case Key::Return:
      if (field <= kFieldExtensions) act(ui, UiAction::PreviewChanges, now_ms);
      return;
    case Key::Home:
      ui.cursor = 0;
      return;
    case Key::End:
      ui.cursor = text.size();
      return;
    case Key::Left:
      ui.cursor = whole ? 0 : previous_boundary(text, ui.cursor);
      return;
    case Key::Right:
      ui.cursor = whole ? text.size() : next_boundary(text, ui.cursor);
      return;
    case Key::BackSpace:
    case Key::Delete: {
      if (whole) {
        set_field_text(ui, field, {});
        ui.cursor = 0;
        return;
      }
      const std::size_t at = floor_boundary(text, ui.cursor);
      const std::size_t from = key.key == Key::BackSpace ? previous_boundary(text, at) : at;
      const std::size_t to = key.key == Key::BackSpace ? at : next_boundary(text, at);
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

bool handle_field_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  edit_field(ui, key, now_ms);
  return true;
}

// --- the routing table --------------------------------------------------------

bool content_panel_open(const UiState& ui) { return ui.content_panel.open; }
bool dialog_without_browser(const UiState& ui) {
  return !ui.browser.open && (ui.confirmation.open || ui.backups_panel.open);
}
bool always(const UiState&) { return true; }
bool browser_open(const UiState& ui) { return ui.browser.open; }
bool no_field_focused(const UiState& ui) { return !ui.focused_field; }
bool field_focused(const UiState& ui) { return ui.focused_field.has_value(); }

bool handle_content_panel_step(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  handle_content_panel_key(ui, key, now_ms);
  return true;
}

// One step of the routing: it applies in some states and may consume the key.
struct KeyStep {
  bool (*applies)(const UiState&);
  bool (*handle)(UiState&, const DecodedKey&, std::int64_t);
};

// First match wins; a step that does not consume the key lets the next one try.
constexpr std::array<KeyStep, 7> kKeySteps{{
    {content_panel_open, handle_content_panel_step},
    {dialog_without_browser, handle_dialog_key},
    {always, handle_shortcut},
    {always, handle_escape},
    {browser_open, handle_browser_key},
    {no_field_focused, handle_unfocused_main_key},
    {field_focused, handle_field_key},
}};

}  // namespace

std::vector<std::size_t> main_field_cycle(const UiState& ui) {
  std::vector<std::size_t> cycle{kFieldTarget, kFieldFind, kFieldReplacement};
  if (ui.include_folder_contents && !ui.unlimited_depth) cycle.push_back(kFieldDepth);
  if (ui.extension_filter != ExtensionFilter::Mode::All) cycle.push_back(kFieldExtensions);
  return cycle;
}

void handle_key(UiState& ui, const DecodedKey& key, std::int64_t now_ms) {
  // Shift, Control, Alt and the lock and group keys arrive as presses of their
  // own before the chord they start; they are not edits and must not end the
  // whole-text selection that Control+A has just made.
  if (key.key == Key::Modifier) return;
  if (ui.worker.busy()) {
    // Escape cancels work that has changed nothing, whatever is focused or
    // open; so does activating the Backups panel's Cancel, which stands where
    // "Back up now" was.
    const bool on_panel_cancel =
        ui.backups_panel.open && !ui.browser.open && ui.backups_panel.focus == BackupsFocus::BackUpNow;
    if (key.key == Key::Escape || (on_panel_cancel && !ui.focused_field && is_activate(key))) {
      cancel_running_work(ui);
      return;
    }
    // The browser's path field alone takes typing while a worker runs; what
    // would act on the typed path waits.
    const bool editing = key.key != Key::Return && key.key != Key::Tab && key.key != Key::Escape;
    if (ui.browser.open && ui.focused_field == kFieldBrowserPath && editing) edit_field(ui, key, now_ms);
    return;
  }
  for (const KeyStep& step : kKeySteps) {
    if (step.applies(ui) && step.handle(ui, key, now_ms)) return;
  }
}

}  // namespace tarnwick
