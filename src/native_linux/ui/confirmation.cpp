// The apply confirmation dialog: its scrolled text, the backup choice and
// destination, the hint, and Cancel / Apply changes with keyboard focus.
#include "native_linux/ui/confirmation.h"

#include <algorithm>

#include "native_linux/ui/screen_layout.h"

namespace tarnwick {

namespace {

constexpr std::int32_t kHintLineHeight = 16;

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

void draw_backup_hint(Canvas& canvas, const UiState& ui, const ConfirmationLayout& layout) {
  const Rect& dialog = layout.dialog;
  std::string_view hint = "Full selected-target copy; backup must succeed before any selected file changes.";
  Colour colour = palette::kTextSecondary;
  if (!ui.back_up_before_apply) {
    hint = "Backup is OFF. Apply will not create an original copy.";
    colour = palette::kWarning;
  } else if (is_blank(ui.fields[kFieldBackupDestination])) {
    hint = "Choose a backup folder to enable Apply. Your preview stays available.";
    colour = palette::kWarning;
  }
  const auto columns = static_cast<std::size_t>(std::max(20, (dialog.width - 48) / kWrapPixelsPerColumn));
  canvas.push_text_clip(Rect{dialog.x + 24, dialog.y + dialog.height - 118, dialog.width - 48, 32});
  std::int32_t baseline = dialog.y + dialog.height - 103;
  for (const std::string& line : wrap_text(canvas, hint, columns, FontRole::Mono11)) {
    canvas.draw_text(dialog.x + 24, baseline, line, colour, FontRole::Mono11);
    baseline += kHintLineHeight;
  }
  canvas.pop_text_clip();
}

void draw_focus_outline(Canvas& canvas, const UiState& ui, const ConfirmationLayout& layout) {
  if (ui.focused_field) return;
  switch (ui.confirmation.focus) {
    case ConfirmFocus::Cancel:
      canvas.outline_rect(layout.cancel, palette::kText);
      return;
    case ConfirmFocus::Apply:
      canvas.outline_rect(layout.apply, palette::kText);
      return;
    case ConfirmFocus::Checkbox:
      canvas.outline_rect(layout.checkbox_focus, palette::kText);
      return;
    case ConfirmFocus::Browse:
      canvas.outline_rect(layout.browse, palette::kText);
      return;
    case ConfirmFocus::Destination:
      return;  // the field shows its own focus border
  }
}

}  // namespace

ConfirmationLayout confirmation_layout(Size window) {
  ConfirmationLayout layout;
  layout.dialog = centred_overlay(window, 780, 700);
  const auto [x, y, width, height] = layout.dialog;
  layout.text_area = Rect{x + 24, y + 77, width - 48, height - 313};
  layout.columns = std::max(20, (width - 58) / kWrapPixelsPerColumn);
  layout.visible_lines = std::max(1, (height - 313) / 19);
  layout.checkbox_focus = Rect{x + 20, y + height - 221, 260, 27};
  layout.destination_field = Rect{x + 24, y + height - 161, width - 174, 35};
  layout.browse = Rect{x + width - 138, y + height - 161, 114, 35};
  layout.cancel = Rect{x + width - 340, y + height - 53, 145, 34};
  layout.apply = Rect{x + width - 181, y + height - 53, 157, 34};
  return layout;
}

void draw_confirmation(Canvas& canvas, UiState& ui, Size window) {
  const ConfirmationLayout layout = confirmation_layout(window);
  const Rect& dialog = layout.dialog;
  canvas.begin_overlay();
  canvas.fill_rect(dialog, palette::kControl);
  canvas.outline_rect(dialog, palette::kAccentBright);
  canvas.fill_rect(Rect{dialog.x, dialog.y, dialog.width, 3}, palette::kAccent);
  canvas.draw_text(dialog.x + 24, dialog.y + 36, "APPLY THESE CHANGES?", palette::kText, FontRole::Sans16);
  canvas.draw_text(dialog.x + 24, dialog.y + 60,
                   "Review details \u00B7 wheel or Page Up/Down \u00B7 Ctrl+C copies notices", palette::kTextSecondary,
                   FontRole::Mono11);

  const std::string text = compose_confirmation_text(ui).value_or(std::string(kPreviewUnavailable));
  const std::vector<std::string> lines =
      wrap_text(canvas, text, static_cast<std::size_t>(layout.columns), FontRole::Mono13);
  draw_scrolled_text(canvas, lines, layout.text_area, dialog.x + 24, dialog.y + 92, layout.visible_lines,
                     ui.confirmation.scroll);
  const Rect& text_area = layout.text_area;
  draw_scroll_bar(canvas, Rect{dialog.x + dialog.width - 16, text_area.y, kScrollBarWidth, text_area.height},
                  lines.size(), static_cast<std::uint64_t>(layout.visible_lines),
                  static_cast<std::uint64_t>(ui.confirmation.scroll));

  const std::int32_t bottom = dialog.y + dialog.height;
  canvas.draw_line(dialog.x + 24, bottom - 230, dialog.x + dialog.width - 24, bottom - 230, palette::kBorder);
  draw_checkbox(canvas, dialog.x + 24, bottom - 217,
                CheckboxView{.label = "Back up before Apply",
                             .checked = ui.back_up_before_apply,
                             .action = code(UiAction::ToggleBackupBeforeApply)});
  canvas.draw_text(dialog.x + 24, bottom - 173, "DESTINATION FOLDER", palette::kTextSecondary, FontRole::Mono11);
  draw_ui_field(canvas, ui, layout.destination_field, kFieldBackupDestination, true);
  draw_button(canvas, layout.browse, ButtonView{.label = "Browse\u2026", .action = code(UiAction::BrowseBackupFolder)});
  draw_backup_hint(canvas, ui, layout);
  draw_button(canvas, layout.cancel, ButtonView{.label = "Cancel", .action = code(UiAction::CancelConfirmation)});
  draw_button(canvas, layout.apply,
              ButtonView{.label = "Apply changes",
                         .action = code(UiAction::ConfirmApply),
                         .enabled = !ui.back_up_before_apply || !is_blank(ui.fields[kFieldBackupDestination]),
                         .style = ButtonStyle::Primary});
  draw_focus_outline(canvas, ui, layout);
}

}  // namespace tarnwick
