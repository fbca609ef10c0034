// The Backups panel: the back-up-before-Apply choice, the destination and its
// Browse…, "Back up now" with its progress and status, Copy details and Done.
#include "native_linux/ui/backups_panel.h"

#include <algorithm>
#include <array>

#include "native_linux/ui/screen_layout.h"

namespace tarnwick {
namespace {

constexpr std::int32_t kPanelLineHeight = 18;
constexpr std::size_t kStatusLines = 2;
constexpr std::string_view kExplanation =
    "Copies original names and the entire target, including hidden files and empty folders.\n"
    "Depth and extension filters do not narrow it. Each backup gets a separate folder.\n"
    "Backup failure stops Apply before any selected file changes.";

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

std::string_view first_line(std::string_view text) { return text.substr(0, text.find('\n')); }

void draw_lines(Canvas& canvas, const std::vector<std::string>& lines, std::size_t count, std::int32_t x,
                std::int32_t first_baseline, Colour colour) {
  for (std::size_t i = 0; i < std::min(count, lines.size()); ++i) {
    canvas.draw_text(x, first_baseline + static_cast<std::int32_t>(i) * kPanelLineHeight, lines[i], colour,
                     FontRole::Mono11);
  }
}

void draw_status_area(Canvas& canvas, const UiState& ui, const BackupsPanelLayout& layout) {
  const Rect& panel = layout.panel;
  const BackupsStatus status = compose_backups_status(ui);
  canvas.push_text_clip(Rect{layout.left, panel.y + panel.height - 114, panel.width - 48, 40});
  const std::vector<std::string> lines =
      wrap_text(canvas, status.text, static_cast<std::size_t>(layout.columns), FontRole::Mono11);
  draw_lines(canvas, lines, kStatusLines, layout.left, panel.y + panel.height - 98,
             status.stopped ? palette::kWarning : palette::kPositive);
  canvas.pop_text_clip();
}

void draw_focus_outline(Canvas& canvas, const UiState& ui, const BackupsPanelLayout& layout) {
  if (ui.focused_field) return;
  // In BackupsFocus order; the destination field shows its own focus border.
  const std::array<const Rect*, 6> outlined{&layout.checkbox_focus, nullptr,      &layout.browse,
                                            &layout.back_up_now,    &layout.done, &layout.copy_details};
  if (const Rect* rect = outlined[static_cast<std::size_t>(ui.backups_panel.focus)]) {
    canvas.outline_rect(*rect, palette::kText);
  }
}

}  // namespace

void open_backups_panel(UiState& ui) {
  ui.backups_panel.open = true;
  ui.backups_panel.focus = BackupsFocus::Done;
  clear_focus(ui);
}

bool back_up_now_enabled(const UiState& ui) {
  return !ui.worker.busy() && !is_blank(ui.fields[kFieldTarget]) && !is_blank(ui.fields[kFieldBackupDestination]);
}

void back_up_now(UiState& ui, std::int64_t now_ms) {
  BackupsPanelState& panel = ui.backups_panel;
  panel.focus = BackupsFocus::BackUpNow;
  clear_focus(ui);
  const std::optional<std::int64_t> last = panel.last_backup_start_ms;
  if (ui.worker.busy() || (last && now_ms >= *last && now_ms - *last < kOverlayPressGuardMilliseconds)) return;
  start_backup(ui);
  if (ui.worker.backup_running) panel.last_backup_start_ms = now_ms;
}

BackupsStatus compose_backups_status(const UiState& ui) {
  if (ui.worker.busy()) {
    std::string text = "Creating and verifying backup\u2026 Keep this window open.";
    if (!ui.worker.progress.line.empty()) text.append("\n").append(ui.worker.progress.line);
    return {std::move(text), false};
  }
  if (!ui.status) return {compose_backup_choice_text(ui), false};
  if (ui.status->severity == StatusSeverity::Stopped) {
    return {"Backup / operation notice: " + std::string(first_line(ui.status->message)), true};
  }
  return {std::string(first_line(ui.status->message)), false};
}

BackupsPanelLayout backups_panel_layout(Size window) {
  BackupsPanelLayout layout;
  layout.panel = centred_overlay(window, 760, 440);
  const auto [x, y, width, height] = layout.panel;
  layout.left = x + 24;
  layout.columns = std::max(20, (width - 48) / kWrapPixelsPerColumn);
  layout.checkbox_focus = Rect{x + 20, y + 82, 260, 27};
  layout.destination_field = Rect{layout.left, y + 148, width - 174, 36};
  layout.browse = Rect{x + width - 138, y + 148, 114, 36};
  layout.copy_details = Rect{layout.left, y + height - 57, 138, 34};
  layout.back_up_now = Rect{x + width - 306, y + height - 57, 166, 34};
  layout.done = Rect{x + width - 128, y + height - 57, 104, 34};
  return layout;
}

void draw_backups_panel(Canvas& canvas, UiState& ui, Size window) {
  const BackupsPanelLayout layout = backups_panel_layout(window);
  const Rect& panel = layout.panel;
  const std::int32_t left = layout.left;
  const bool idle = !ui.worker.busy();
  canvas.begin_overlay();
  canvas.fill_rect(panel, palette::kPanel);
  canvas.outline_rect(panel, palette::kAccentBright);
  canvas.fill_rect(Rect{panel.x, panel.y, panel.width, 3}, palette::kAccent);
  canvas.draw_text(left, panel.y + 36, "BACKUPS", palette::kText, FontRole::Sans16);
  canvas.draw_text(left, panel.y + 63, "An original copy before your files change.", palette::kTextSecondary,
                   FontRole::Mono13);
  draw_checkbox(canvas, left, panel.y + 86,
                CheckboxView{.label = "Back up before Apply",
                             .checked = ui.back_up_before_apply,
                             .action = code(UiAction::ToggleBackupBeforeApply),
                             .enabled = idle});
  canvas.draw_text(left, panel.y + 136, "DESTINATION FOLDER", palette::kTextSecondary, FontRole::Mono11);
  draw_ui_field(canvas, ui, layout.destination_field, kFieldBackupDestination, idle);
  draw_button(canvas, layout.browse,
              ButtonView{.label = "Browse\u2026", .action = code(UiAction::BrowseBackupFolder), .enabled = idle});
  const std::vector<std::string> explanation =
      wrap_text(canvas, kExplanation, static_cast<std::size_t>(layout.columns), FontRole::Mono11);
  draw_lines(canvas, explanation, explanation.size(), left, panel.y + 213, palette::kTextSecondary);
  draw_status_area(canvas, ui, layout);
  canvas.draw_text(left, panel.y + panel.height - 11, "Ctrl+B \u00B7 paths stay in memory", palette::kTextSecondary,
                   FontRole::Mono11);
  draw_button(canvas, layout.copy_details,
              ButtonView{.label = "Copy details", .action = code(UiAction::CopyDetails), .enabled = idle});
  // While the backup may still stop, its Cancel stands where it was started.
  const CancelOffer cancel = ui.worker.busy() ? ui.worker.progress.cancel : CancelOffer::NotOffered;
  if (cancel == CancelOffer::Offered || cancel == CancelOffer::Requested) {
    draw_button(canvas, layout.back_up_now,
                ButtonView{.label = cancel == CancelOffer::Offered ? "Cancel" : "Cancelling\u2026",
                           .action = code(UiAction::CancelWork),
                           .enabled = cancel == CancelOffer::Offered});
  } else {
    draw_button(canvas, layout.back_up_now,
                ButtonView{.label = "Back up now", .action = code(UiAction::BackUpNow),
                           .enabled = back_up_now_enabled(ui)});
  }
  draw_button(canvas, layout.done,
              ButtonView{.label = "Done", .action = code(UiAction::CloseBackupsPanel), .enabled = idle,
                         .style = ButtonStyle::Primary});
  draw_focus_outline(canvas, ui, layout);
}

}  // namespace tarnwick
