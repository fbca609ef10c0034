// The main screen: sections 1 and 2, the options column, the status line,
// the frame that stacks the overlays on top, and where a press or the wheel lands.
#include <algorithm>
#include <array>

#include "native_linux/ui/main_chrome.h"
#include "native_linux/ui/screen_layout.h"

namespace tarnwick {
namespace {

// Tall / short variants of one measure.
std::int32_t pick(const MainLayout& layout, std::int32_t tall, std::int32_t short_value) {
  return layout.tall ? tall : short_value;
}

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

void draw_section_one(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t top = layout.section1_top;
  canvas.fill_rect(Rect{20, top, layout.width - 40, layout.section1_height}, palette::kPanel);
  canvas.draw_text(36, top + 24, "01  SELECT A FILE OR FOLDER", palette::kTextSecondary, FontRole::Mono11);
  const std::int32_t y = top + layout.field_offset;
  draw_ui_field(canvas, ui, Rect{36, y, layout.width - 208, layout.field_height}, kFieldTarget, idle);
  draw_button(canvas, Rect{layout.width - 156, y, 120, layout.field_height},
              ButtonView{.label = "Browse\u2026",
                         .action = code(UiAction::BrowseTarget),
                         .enabled = main_control_enabled(ui, UiAction::BrowseTarget),
                         .mnemonic = shown_mnemonic(ui, UiAction::BrowseTarget)});
}

void draw_section_two(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t top = layout.section2_top;
  const std::int32_t half_width = (layout.width - 64) / 2;
  canvas.draw_text(25, top, "02  FIND & REPLACE", palette::kTextSecondary, FontRole::Mono11);
  canvas.draw_text(25, top + 23, "FIND", palette::kText, FontRole::Mono11);
  canvas.draw_text(half_width + 40, top + 23, "REPLACE WITH", palette::kText, FontRole::Mono11);
  draw_ui_field(canvas, ui, Rect{20, top + 34, half_width, layout.field_height}, kFieldFind, idle);
  draw_ui_field(canvas, ui, Rect{half_width + 36, top + 34, half_width + 8, layout.field_height}, kFieldReplacement,
             idle);
}

// Indexed by the content mode's row (kContentModeRows).
std::string_view content_mode_button_label(ContentMode mode) {
  static constexpr std::array<std::string_view, kContentModeRows.size()> kLabels{"Text only \u25BE", "Text+bin \u25BE",
                                                                                 "Binary \u25BE"};
  return kLabels[content_mode_row(mode)];
}

std::string content_summary(const UiState& ui) {
  static constexpr std::array<std::string_view, kContentModeRows.size()> kModes{"Text only", "Text + binary",
                                                                                "Binary only"};
  std::string text(kModes[content_mode_row(ui.content_mode)]);
  const auto table = encoding_table();
  text.append(" \u00B7 ").append(ui.encoding_index < table.size() ? table[ui.encoding_index].label : "Automatic");
  if (ui.allow_binary_length_changes && ui.content_mode != ContentMode::TextOnly) text += " \u00B7 resize enabled";
  return text;
}

void draw_content_options(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const std::int32_t top = layout.options_top;
  const std::int32_t column = layout.left_column;
  const std::int32_t edit_row = top + pick(layout, 186, 136);
  draw_checkbox(canvas, 36, edit_row,
                CheckboxView{.label = "Edit file contents",
                             .checked = ui.edit_file_contents,
                             .action = code(UiAction::ToggleEditFileContents),
                             .enabled = main_control_enabled(ui, UiAction::ToggleEditFileContents),
                             .mnemonic = shown_mnemonic(ui, UiAction::ToggleEditFileContents)});
  draw_button(canvas, Rect{column - 112, edit_row - 6, 96, 29},
              ButtonView{.label = content_mode_button_label(ui.content_mode),
                         .action = code(UiAction::OpenContentSettings),
                         .enabled = main_control_enabled(ui, UiAction::OpenContentSettings),
                         .mnemonic = shown_mnemonic(ui, UiAction::OpenContentSettings)});
  if (!layout.tall) return;
  canvas.push_text_clip(Rect{36, top + 202, column - 52, 22});
  if (ui.edit_file_contents) {
    canvas.draw_text(36, top + 215, content_summary(ui),
                     ui.content_mode != ContentMode::TextOnly ? palette::kWarning : palette::kTextSecondary,
                     FontRole::Mono11);
  } else {
    canvas.draw_text(36, top + 215, "Contents stay unchanged until enabled.", palette::kTextSecondary,
                     FontRole::Mono11);
  }
  canvas.pop_text_clip();
}

void draw_extension_options(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t top = layout.options_top;
  const std::int32_t column = layout.left_column;
  const std::int32_t label_row = top + pick(layout, 233, 178);
  canvas.draw_text(36, label_row, "FILE EXTENSIONS", palette::kTextSecondary, FontRole::Mono11);
  static constexpr std::array<std::string_view, kExtensionFilterButtons.size()> kLabels{"All", "Only", "Exclude"};
  const std::int32_t step = (column - 48) / 3;
  const std::int32_t height = pick(layout, 31, 27);
  for (std::size_t i = 0; i < kExtensionFilterButtons.size(); ++i) {
    const Rect rect{36 + static_cast<std::int32_t>(i) * step, label_row + 12, step - 4, height};
    const auto payload = static_cast<std::uint32_t>(i);
    draw_button(canvas, rect,
                ButtonView{.label = kLabels[i],
                           .action = code(UiAction::ChooseExtensionFilter),
                           .payload = payload,
                           .enabled = main_control_enabled(ui, UiAction::ChooseExtensionFilter, payload),
                           .mnemonic = shown_mnemonic(ui, UiAction::ChooseExtensionFilter, payload)});
    if (ui.extension_filter == kExtensionFilterButtons[i]) {
      canvas.fill_rect(Rect{rect.x, rect.y + rect.height - 3, step - 4, 3}, palette::kAccentBright);
    }
  }
  draw_ui_field(canvas, ui, Rect{36, top + pick(layout, 286, 228), column - 52, pick(layout, 35, 32)}, kFieldExtensions,
             idle && ui.extension_filter != ExtensionFilter::Mode::All);
}

void draw_options_column(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t top = layout.options_top;
  const std::int32_t column = layout.left_column;
  const std::int32_t bottom = layout.height;
  canvas.fill_rect(Rect{20, top, column - 20, bottom - top - 48}, palette::kPanel);
  canvas.draw_text(36, top + 28, "SCOPE & OPTIONS", palette::kText, FontRole::Sans16);
  draw_checkbox(canvas, 36, top + pick(layout, 47, 40),
                CheckboxView{.label = "Match case",
                             .checked = ui.match_case,
                             .action = code(UiAction::ToggleMatchCase),
                             .enabled = main_control_enabled(ui, UiAction::ToggleMatchCase),
                             .mnemonic = shown_mnemonic(ui, UiAction::ToggleMatchCase)});
  draw_checkbox(canvas, 170, top + pick(layout, 47, 40),
                CheckboxView{.label = "Preserve case",
                             .checked = ui.preserve_case,
                             .action = code(UiAction::TogglePreserveCase),
                             .enabled = main_control_enabled(ui, UiAction::TogglePreserveCase),
                             .mnemonic = shown_mnemonic(ui, UiAction::TogglePreserveCase)});
  if (layout.tall) {
    canvas.draw_text(65, top + 81, "Unchecked: ASCII A/a match alike.", palette::kTextSecondary, FontRole::Mono11);
  }
  draw_checkbox(canvas, 36, top + pick(layout, 99, 72),
                CheckboxView{.label = "Include folder contents",
                             .checked = ui.include_folder_contents,
                             .action = code(UiAction::ToggleIncludeFolderContents),
                             .enabled = main_control_enabled(ui, UiAction::ToggleIncludeFolderContents),
                             .mnemonic = shown_mnemonic(ui, UiAction::ToggleIncludeFolderContents)});
  const std::int32_t depth_row = top + pick(layout, 133, 104);
  draw_checkbox(canvas, 36, depth_row,
                CheckboxView{.label = "Unlimited depth",
                             .checked = ui.unlimited_depth,
                             .action = code(UiAction::ToggleUnlimitedDepth),
                             .enabled = main_control_enabled(ui, UiAction::ToggleUnlimitedDepth),
                             .mnemonic = shown_mnemonic(ui, UiAction::ToggleUnlimitedDepth)});
  if (!ui.unlimited_depth) {
    canvas.draw_text(column - 119, depth_row + 13, "Depth", palette::kTextSecondary, FontRole::Mono11);
    draw_ui_field(canvas, ui, Rect{column - 76, depth_row - 7, 60, 33}, kFieldDepth, idle && ui.include_folder_contents,
               !depth_field_valid(ui));
  }
  if (layout.tall) {
    canvas.draw_text(65, top + 166, "Root = 0 \u00B7 immediate children = 1", palette::kTextSecondary,
                     FontRole::Mono11);
  }
  draw_content_options(canvas, ui, layout);
  draw_extension_options(canvas, ui, layout);
  draw_button(canvas, Rect{36, bottom - 99, column - 164, 36},
              ButtonView{.label = idle ? "Preview changes" : "Working\u2026",
                         .action = code(UiAction::PreviewChanges),
                         .enabled = main_control_enabled(ui, UiAction::PreviewChanges),
                         .style = ButtonStyle::Primary,
                         .mnemonic = shown_mnemonic(ui, UiAction::PreviewChanges)});
  draw_button(canvas, Rect{column - 120, bottom - 99, 104, 36},
              ButtonView{.label = "Backups\u2026",
                         .action = code(UiAction::OpenBackupsPanel),
                         .enabled = main_control_enabled(ui, UiAction::OpenBackupsPanel),
                         .mnemonic = shown_mnemonic(ui, UiAction::OpenBackupsPanel)});
}

void draw_status_line(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool stopped = (ui.status && ui.status->severity == StatusSeverity::Stopped) || (!ui.status && ui.recovery_report);
  if (!ui.status && !ui.recovery_report) return;
  // The line sits in the review pane, under its heading.
  const std::int32_t pane_left = layout.left_column;
  const std::int32_t top = layout.options_top;
  canvas.push_text_clip(Rect{pane_left + 31, top + 55, layout.width - pane_left - 66, 17});
  if (stopped) {
    canvas.draw_text(pane_left + 32, top + 67, "Operation stopped \u00B7 full details below", palette::kWarning,
                     FontRole::Mono11);
  } else {
    const std::string_view message = ui.status->message;
    canvas.draw_text(pane_left + 32, top + 67, message.substr(0, message.find('\n')), palette::kPositive,
                     FontRole::Mono11);
  }
  canvas.pop_text_clip();
}

}  // namespace

Rect centred_overlay(Size window, std::int32_t max_width, std::int32_t max_height) {
  const std::int32_t width = std::min(window.width - 70, max_width);
  const std::int32_t height = std::min(window.height - 70, max_height);
  return Rect{(window.width - width) / 2, (window.height - height) / 2, width, height};
}

void draw_ui_field(Canvas& canvas, const UiState& ui, Rect rect, std::size_t field, bool enabled, bool invalid) {
  const bool focused = ui.focused_field == field;
  draw_text_field(canvas, rect,
                  TextFieldView{.text = ui.fields[field],
                                .placeholder = field_placeholder(field),
                                .cursor = ui.cursor,
                                .focused = focused,
                                .whole_text_selected = focused && ui.whole_text_selected,
                                .enabled = enabled,
                                .invalid = invalid,
                                .focus_action = code(UiAction::FocusField),
                                .field_id = field});
}

MainLayout main_layout(Size window) {
  MainLayout layout;
  layout.width = window.width;
  layout.height = window.height;
  layout.tall = window.height >= kTallLayoutMinHeight;
  const std::int64_t scaled = static_cast<std::int64_t>(window.width) * 37;
  layout.left_column = scaled < 33'000 ? 330 : static_cast<std::int32_t>(std::min<std::int64_t>(scaled / 100, 430));
  layout.section1_top = layout.tall ? 145 : 125;
  layout.section1_height = layout.tall ? 94 : 80;
  layout.field_offset = layout.tall ? 37 : 31;
  layout.field_height = layout.tall ? 40 : 35;
  layout.section2_top = layout.tall ? 263 : 225;
  layout.options_top = layout.tall ? 354 : 311;
  return layout;
}

void draw_main_screen(Canvas& canvas, UiState& ui, Size window) {
  const MainLayout layout = main_layout(window);
  draw_main_header(canvas, window);
  draw_section_one(canvas, ui, layout);
  draw_section_two(canvas, ui, layout);
  draw_options_column(canvas, ui, layout);
  draw_review_pane(canvas, ui, layout);
  draw_status_line(canvas, ui, layout);
  draw_main_footer(canvas, window);
}

void draw_frame(Canvas& canvas, UiState& ui, Size window) {
  draw_main_screen(canvas, ui, window);
  if (ui.confirmation.open) draw_confirmation(canvas, ui, window);
  if (ui.content_panel.open) draw_content_panel(canvas, ui, window);
  if (ui.backups_panel.open) draw_backups_panel(canvas, ui, window);
  if (ui.browser.open) draw_browser(canvas, ui, window);
}

void press_at(UiState& ui, const std::optional<HitRegion>& region, std::int32_t pointer_y, std::int64_t now_ms) {
  if (press_guard_active(ui, now_ms)) return;
  if (!region) {
    // The open encoding list restarts the regions: a press beside its rows
    // lands outside it, and only closes it.
    if (ui.content_panel.encoding_list_open) ui.content_panel.encoding_list_open = false;
    return;
  }
  // The scroll bar is no button: where along it the press lands decides.
  if (region->action == code(UiAction::ReviewScrollBar)) {
    press_review_scroll_bar(ui, pointer_y);
    return;
  }
  dispatch_action(ui, static_cast<UiAction>(region->action), static_cast<std::uint32_t>(region->payload), now_ms);
}

// The wheel reaches only the topmost layer: nothing under an open overlay
// scrolls, whatever lies under the pointer.
void scroll_at(UiState& ui, Size window, std::int32_t x, std::int32_t y, std::int64_t lines) {
  if (ui.worker.busy()) return;
  if (ui.browser.open) {
    scroll_browser(ui, window, x, y, lines);
    return;
  }
  if (ui.backups_panel.open) return;
  if (ui.content_panel.open) {
    scroll_content_panel(ui, window, x, y, lines);
    return;
  }
  if (ui.confirmation.open) {
    if (confirmation_layout(window).text_area.contains(x, y)) {
      ui.confirmation.scroll = std::max<std::int64_t>(0, ui.confirmation.scroll + lines);
    }
    return;
  }
  if (review_layout(main_layout(window)).text_area.contains(x, y)) {
    ui.review_scroll = std::max<std::int64_t>(0, ui.review_scroll + lines);
  }
}

}  // namespace tarnwick
