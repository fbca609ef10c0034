// The main screen: sections 1 and 2, the options column, the status line,
// and the frame that stacks the overlays on top.
#include <algorithm>
#include <array>

#include "native_linux/main_chrome.h"
#include "native_linux/screen_layout.h"

namespace tarnwick {
namespace {

// Tall / short variants of one measure.
std::int32_t pick(const MainLayout& layout, std::int32_t tall, std::int32_t short_value) {
  return layout.tall ? tall : short_value;
}

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

void draw_field(Canvas& canvas, const UiState& ui, Rect rect, std::size_t field, bool enabled, bool invalid = false) {
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

void draw_section_one(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t s = layout.section1_top;
  canvas.fill_rect(Rect{20, s, layout.width - 40, layout.section1_height}, palette::kPanel);
  canvas.draw_text(36, s + 24, "01  SELECT A FILE OR FOLDER", palette::kTextSecondary, FontRole::Mono11);
  const std::int32_t y = s + layout.field_offset;
  draw_field(canvas, ui, Rect{36, y, layout.width - 208, layout.field_height}, kFieldTarget, idle);
  draw_button(canvas, Rect{layout.width - 156, y, 120, layout.field_height},
              ButtonView{.label = "Browse\u2026", .action = code(UiAction::BrowseTarget), .enabled = idle});
}

void draw_section_two(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t t2 = layout.section2_top;
  const std::int32_t c = (layout.width - 64) / 2;
  canvas.draw_text(25, t2, "02  FIND & REPLACE", palette::kTextSecondary, FontRole::Mono11);
  canvas.draw_text(25, t2 + 23, "FIND", palette::kText, FontRole::Mono11);
  canvas.draw_text(c + 40, t2 + 23, "REPLACE WITH", palette::kText, FontRole::Mono11);
  draw_field(canvas, ui, Rect{20, t2 + 34, c, layout.field_height}, kFieldFind, idle);
  draw_field(canvas, ui, Rect{c + 36, t2 + 34, c + 8, layout.field_height}, kFieldReplacement, idle);
}

std::string_view content_mode_button_label(std::size_t mode) {
  static constexpr std::array<std::string_view, kContentModeCount> kLabels{"Text only \u25BE", "Text+bin \u25BE",
                                                                           "Binary \u25BE"};
  return kLabels[std::min(mode, kContentModeCount - 1)];
}

std::string content_summary(const UiState& ui) {
  static constexpr std::array<std::string_view, kContentModeCount> kModes{"Text only", "Text + binary",
                                                                          "Binary only"};
  std::string text(kModes[std::min(ui.content_mode, kContentModeCount - 1)]);
  const auto table = encoding_table();
  text.append(" \u00B7 ").append(ui.encoding_index < table.size() ? table[ui.encoding_index].label : "Automatic");
  if (ui.allow_binary_length_changes && ui.content_mode != 0) text += " \u00B7 resize enabled";
  return text;
}

void draw_content_options(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t m = layout.options_top;
  const std::int32_t l = layout.left_column;
  const std::int32_t e = pick(layout, 186, 136);
  draw_checkbox(canvas, 36, m + e,
                CheckboxView{.label = "Edit file contents",
                             .checked = ui.edit_file_contents,
                             .action = code(UiAction::ToggleEditFileContents),
                             .enabled = idle});
  draw_button(canvas, Rect{l - 112, m + e - 6, 96, 29},
              ButtonView{.label = content_mode_button_label(ui.content_mode),
                         .action = code(UiAction::OpenContentSettings),
                         .enabled = idle && ui.edit_file_contents});
  if (!layout.tall) return;
  canvas.push_text_clip(Rect{36, m + 202, l - 52, 22});
  if (ui.edit_file_contents) {
    canvas.draw_text(36, m + 215, content_summary(ui), ui.content_mode != 0 ? palette::kWarning : palette::kTextSecondary,
                     FontRole::Mono11);
  } else {
    canvas.draw_text(36, m + 215, "Contents stay unchanged until enabled.", palette::kTextSecondary, FontRole::Mono11);
  }
  canvas.pop_text_clip();
}

void draw_extension_options(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t m = layout.options_top;
  const std::int32_t l = layout.left_column;
  const std::int32_t r = pick(layout, 233, 178);
  canvas.draw_text(36, m + r, "FILE EXTENSIONS", palette::kTextSecondary, FontRole::Mono11);
  static constexpr std::array<std::string_view, kExtensionFilterCount> kLabels{"All", "Only", "Exclude"};
  const std::int32_t step = (l - 48) / 3;
  const std::int32_t height = pick(layout, 31, 27);
  for (std::size_t i = 0; i < kExtensionFilterCount; ++i) {
    const Rect rect{36 + static_cast<std::int32_t>(i) * step, m + r + 12, step - 4, height};
    draw_button(canvas, rect,
                ButtonView{.label = kLabels[i], .action = code(UiAction::ChooseExtensionFilter), .payload = i,
                           .enabled = idle});
    if (ui.extension_filter == i) {
      canvas.fill_rect(Rect{rect.x, rect.y + rect.height - 3, step - 4, 3}, palette::kAccentBright);
    }
  }
  draw_field(canvas, ui, Rect{36, m + pick(layout, 286, 228), l - 52, pick(layout, 35, 32)}, kFieldExtensions,
             idle && ui.extension_filter != 0);
}

void draw_options_column(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool idle = !ui.worker.busy();
  const std::int32_t m = layout.options_top;
  const std::int32_t l = layout.left_column;
  const std::int32_t h = layout.height;
  canvas.fill_rect(Rect{20, m, l - 20, h - m - 48}, palette::kPanel);
  canvas.draw_text(36, m + 28, "SCOPE & OPTIONS", palette::kText, FontRole::Sans16);
  draw_checkbox(canvas, 36, m + pick(layout, 47, 40),
                CheckboxView{.label = "Match case", .checked = ui.match_case,
                             .action = code(UiAction::ToggleMatchCase), .enabled = idle});
  if (layout.tall) {
    canvas.draw_text(65, m + 81, "Unchecked: ASCII A/a match alike.", palette::kTextSecondary, FontRole::Mono11);
  }
  draw_checkbox(canvas, 36, m + pick(layout, 99, 72),
                CheckboxView{.label = "Include folder contents", .checked = ui.include_folder_contents,
                             .action = code(UiAction::ToggleIncludeFolderContents), .enabled = idle});
  const std::int32_t u = pick(layout, 133, 104);
  draw_checkbox(canvas, 36, m + u,
                CheckboxView{.label = "Unlimited depth", .checked = ui.unlimited_depth,
                             .action = code(UiAction::ToggleUnlimitedDepth),
                             .enabled = idle && ui.include_folder_contents});
  if (!ui.unlimited_depth) {
    canvas.draw_text(l - 119, m + u + 13, "Depth", palette::kTextSecondary, FontRole::Mono11);
    draw_field(canvas, ui, Rect{l - 76, m + u - 7, 60, 33}, kFieldDepth, idle && ui.include_folder_contents,
               !depth_field_valid(ui));
  }
  if (layout.tall) {
    canvas.draw_text(65, m + 166, "Root = 0 \u00B7 immediate children = 1", palette::kTextSecondary,
                     FontRole::Mono11);
  }
  draw_content_options(canvas, ui, layout);
  draw_extension_options(canvas, ui, layout);
  const bool depth_ok = !ui.include_folder_contents || ui.unlimited_depth || depth_field_valid(ui);
  draw_button(canvas, Rect{36, h - 99, l - 164, 36},
              ButtonView{.label = idle ? "Preview changes" : "Working\u2026",
                         .action = code(UiAction::PreviewChanges),
                         .enabled = idle && depth_ok,
                         .style = ButtonStyle::Primary});
  draw_button(canvas, Rect{l - 120, h - 99, 104, 36},
              ButtonView{.label = "Backups\u2026", .action = code(UiAction::OpenBackupsPanel), .enabled = idle});
}

void draw_status_line(Canvas& canvas, const UiState& ui, const MainLayout& layout) {
  const bool stopped = (ui.status && ui.status->severity == StatusSeverity::Stopped) || (!ui.status && ui.recovery_report);
  if (!ui.status && !ui.recovery_report) return;
  const std::int32_t l = layout.left_column;
  const std::int32_t m = layout.options_top;
  canvas.push_text_clip(Rect{l + 31, m + 55, layout.width - l - 66, 17});
  if (stopped) {
    canvas.draw_text(l + 32, m + 67, "Operation stopped \u00B7 full details below", palette::kWarning,
                     FontRole::Mono11);
  } else {
    const std::string_view message = ui.status->message;
    canvas.draw_text(l + 32, m + 67, message.substr(0, message.find('\n')), palette::kPositive, FontRole::Mono11);
  }
  canvas.pop_text_clip();
}

}  // namespace

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
  if (ui.confirmation_open) draw_confirmation(canvas, ui, window);
  if (ui.content_panel_open && ui.hooks.draw_content_panel) ui.hooks.draw_content_panel(canvas, ui, window);
  if (ui.backups_panel_open && ui.hooks.draw_backups_panel) ui.hooks.draw_backups_panel(canvas, ui, window);
  if (ui.browser_open && ui.hooks.draw_browser) ui.hooks.draw_browser(canvas, ui, window);
}

}  // namespace tarnwick
