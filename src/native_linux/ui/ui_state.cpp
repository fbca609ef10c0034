// Field editing, invalidation, the request built from the screen, and the
// drop and paste entry points of the main screen's state.
#include "native_linux/ui/ui_state.h"

#include <algorithm>

#include "common/utf8.h"

namespace tarnwick {

void set_status(UiState& ui, StatusSeverity severity, std::string message) {
  ui.status = StatusLine{severity, std::move(message)};
}

void invalidate(UiState& ui) {
  ui.preview.reset();
  ui.items_scanned = 0;
  ui.request_snapshot.reset();
  ui.status.reset();
  ui.results.reset();
  ui.interrupted_apply_journal.reset();
  ui.page = 0;
  ui.review_excerpts = {};
}

void set_field_text(UiState& ui, std::size_t field, std::string text) {
  if (field >= kFieldCount) return;
  // Another target is another tree: what was applied to the last one is no longer undone from here.
  if (field == kFieldTarget && text != ui.fields[field]) ui.undo_record.reset();
  ui.fields[field] = std::move(text);
  if (field == kFieldDepth) {
    if (const auto depth = parse_depth(ui.fields[field])) ui.depth = *depth;
  }
  if (field <= kFieldExtensions) {
    invalidate(ui);
    ui.review_scroll = 0;
  }
  if (ui.focused_field == field) ui.cursor = floor_boundary(ui.fields[field], ui.cursor);
}

void focus_field(UiState& ui, std::size_t field) {
  if (field >= kFieldCount) return;
  ui.focused_field = field;
  ui.cursor = ui.fields[field].size();
  ui.whole_text_selected = false;
}

void clear_focus(UiState& ui) {
  ui.focused_field.reset();
  ui.whole_text_selected = false;
}

namespace {

// Inserts into one field under the insertion rules; false when refused.
bool insert_into_field(UiState& ui, std::size_t field, std::string_view text, bool replace_whole) {
  if (ui.worker.busy() && field != kFieldBrowserPath) return false;
  std::string clean;
  if (field == kFieldBackupDestination) {
    if (contains_control_character(text)) {
      set_status(ui, StatusSeverity::Stopped, "Backup destination must be one path without control characters.");
      return false;
    }
    clean = std::string(text);
  } else {
    clean = strip_control_characters(text);
  }
  const std::string& current = ui.fields[field];
  std::string updated;
  std::size_t cursor = 0;
  if (replace_whole) {
    updated = std::move(clean);
    cursor = updated.size();
  } else {
    const std::size_t at = floor_boundary(current, ui.cursor);
    if (current.size() + clean.size() > kMaxFieldBytes) return false;
    updated.reserve(current.size() + clean.size());
    updated.append(current, 0, at).append(clean).append(current, at);
    cursor = at + clean.size();
  }
  if (updated.size() > kMaxFieldBytes) return false;
  set_field_text(ui, field, std::move(updated));
  ui.cursor = cursor;
  return true;
}

}  // namespace

void insert_text(UiState& ui, std::string_view text) {
  if (!ui.focused_field) return;
  const bool replace_whole = ui.whole_text_selected;
  if (insert_into_field(ui, *ui.focused_field, text, replace_whole)) ui.whole_text_selected = false;
}

void take_clipboard(UiState& ui, std::string text) {
  ui.clipboard_text = std::move(text);
  ui.clipboard_claim_pending = true;
}

// The whole-text selection is recorded when Control+V is pressed, because the
// key clears it long before the text arrives from the other client.
void accept_pasted_text(UiState& ui, std::string_view text) {
  const std::optional<PendingPaste> pending = ui.pending_paste;
  ui.pending_paste.reset();
  if (!pending || ui.focused_field != pending->field || ui.worker.busy()) return;
  if (insert_into_field(ui, pending->field, text, pending->replace_whole_text)) ui.whole_text_selected = false;
}

void accept_pasted_path(UiState& ui, Result<std::string> path) {
  const std::optional<PendingPaste> pending = ui.pending_paste;
  ui.pending_paste.reset();
  if (!pending || ui.focused_field != pending->field || ui.worker.busy()) return;
  if (!path) {
    set_status(ui, StatusSeverity::Stopped, std::move(path.error()));
    return;
  }
  if (insert_into_field(ui, pending->field, *path, pending->replace_whole_text)) ui.whole_text_selected = false;
}

bool is_path_field(std::size_t field) {
  return field == kFieldTarget || field == kFieldBrowserPath || field == kFieldBackupDestination;
}

bool depth_field_valid(const UiState& ui) { return parse_depth(ui.fields[kFieldDepth]).has_value(); }

bool depth_field_shown(const UiState& ui) { return !ui.unlimited_depth; }

bool any_overlay_open(const UiState& ui) { return dialog_open(ui) || ui.content_panel.open; }

bool dialog_open(const UiState& ui) { return ui.browser.open || ui.confirmation.open || ui.backups_panel.open; }

bool drop_allowed(const UiState& ui) { return !ui.worker.busy() && !any_overlay_open(ui); }

void accept_dropped_path(UiState& ui, std::string path) {
  set_field_text(ui, kFieldTarget, std::move(path));
  clear_focus(ui);
  ui.review_scroll = 0;
}

OperationRequest build_request(const UiState& ui) {
  OperationRequest request;
  if (!ui.unlimited_depth) request.max_depth = ui.depth;
  request.extension_filter.mode = ui.extension_filter;
  if (request.extension_filter.mode != ExtensionFilter::Mode::All) {
    request.extension_filter.extensions = normalize_extension_list(ui.fields[kFieldExtensions]);
  }
  request.target = expand_home(ui.fields[kFieldTarget]);
  request.find = ui.fields[kFieldFind];
  request.replacement = ui.fields[kFieldReplacement];
  request.encoding = encoding_choice_for_row(ui.encoding_index);
  request.resizable_binary = ui.allow_binary_length_changes;
  request.content_mode = ui.content_mode;
  request.match_case = ui.match_case;
  request.preserve_case = ui.preserve_case;
  request.include_folder_contents = ui.include_folder_contents;
  request.edit_contents = ui.edit_file_contents;
  return request;
}

std::size_t review_page_count(const UiState& ui) {
  if (!ui.preview) return 1;
  const std::size_t items = std::max(ui.preview->changes.size(), ui.preview->notices.size());
  return std::max<std::size_t>(1, (items + kReviewPageEntries - 1) / kReviewPageEntries);
}

std::size_t shown_review_page(const UiState& ui) { return std::min(ui.page, review_page_count(ui) - 1); }

}  // namespace tarnwick
