// Section 3: the wrapped, scrolled review text, its page buttons, Copy and
// the button that opens the apply confirmation.
#include <algorithm>

#include "native_linux/ui/screen_layout.h"

namespace tarnwick {
namespace {

constexpr std::int32_t kReviewLineHeight = 19;

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

}  // namespace

ReviewLayout review_layout(const MainLayout& layout) {
  const std::int32_t left = layout.left_column;
  const std::int32_t top = layout.options_top;
  const std::int32_t pane_width = layout.width - left - 16;
  ReviewLayout review;
  review.panel = Rect{left + 16, top, pane_width - 20, layout.height - top - 48};
  const std::int32_t text_height = std::max(20, layout.height - top - 221);
  review.text_area = Rect{left + 31, top + 72, pane_width - 50, text_height};
  review.columns = std::max(10, (pane_width - 58) / kWrapPixelsPerColumn);
  review.visible_lines = std::max(1, text_height / kReviewLineHeight);
  return review;
}

// Draws the visible slice of wrapped lines and clamps the scroll in place.
void draw_scrolled_text(Canvas& canvas, const std::vector<std::string>& lines, Rect area, std::int32_t text_x,
                        std::int32_t first_baseline, std::int32_t visible, std::int64_t& scroll) {
  const auto total = static_cast<std::int64_t>(lines.size());
  scroll = std::clamp<std::int64_t>(scroll, 0, std::max<std::int64_t>(0, total - visible));
  canvas.push_text_clip(area);
  const std::int64_t end = std::min<std::int64_t>(total, scroll + visible + 1);
  for (std::int64_t i = scroll; i < end; ++i) {
    const auto row = static_cast<std::int32_t>(i - scroll);
    canvas.draw_text(text_x, first_baseline + row * kReviewLineHeight, lines[static_cast<std::size_t>(i)],
                     palette::kText, FontRole::Mono13);
  }
  canvas.pop_text_clip();
}

void draw_review_pane(Canvas& canvas, UiState& ui, const MainLayout& layout) {
  const ReviewLayout review = review_layout(layout);
  const std::int32_t left = layout.left_column;
  const std::int32_t top = layout.options_top;
  const std::int32_t right = layout.width;
  const std::int32_t bottom = layout.height;
  const bool idle = !ui.worker.busy();
  canvas.fill_rect(review.panel, palette::kPanel);
  canvas.draw_text(left + 32, top + 28, "03  REVIEW CHANGES", palette::kText, FontRole::Sans16);
  canvas.draw_text(left + 32, top + 51,
                   review.panel.width < 600 ? "Preview first. Apply after reviewing every change."
                                            : "Preview first. Apply only when every change is right.",
                   palette::kTextSecondary, FontRole::Mono11);

  const std::vector<std::string> lines =
      wrap_text(compose_review_text(ui), static_cast<std::size_t>(review.columns));
  draw_scrolled_text(canvas, lines, review.text_area, left + 32, top + 86, review.visible_lines, ui.review_scroll);
  draw_scroll_bar(canvas, Rect{right - 29, review.text_area.y, kScrollBarWidth, review.text_area.height}, lines.size(),
                  static_cast<std::uint64_t>(review.visible_lines), static_cast<std::uint64_t>(ui.review_scroll));

  const std::size_t page = shown_review_page(ui);
  const std::size_t pages = review_page_count(ui);
  draw_button(canvas, Rect{left + 32, bottom - 131, 101, 29},
              ButtonView{.label = "Previous", .action = code(UiAction::PreviousPage), .enabled = idle && page > 0});
  draw_button(canvas, Rect{left + 141, bottom - 131, 86, 29},
              ButtonView{.label = "Next", .action = code(UiAction::NextPage), .enabled = idle && page + 1 < pages});
  draw_button(canvas, Rect{right - 104, bottom - 131, 68, 29},
              ButtonView{.label = "Copy", .action = code(UiAction::CopyReview), .enabled = idle});
  canvas.draw_text(left + 240, bottom - 111, "Page " + std::to_string(page + 1), palette::kTextSecondary,
                   FontRole::Mono11);
  const std::int32_t pane_width = right - left - 16;
  draw_button(canvas, Rect{left + 32, bottom - 91, pane_width - 52, 33},
              ButtonView{.label = "Apply reviewed changes",
                         .action = code(UiAction::ApplyReviewedChanges),
                         .enabled = idle && compose_confirmation_text(ui).has_value(),
                         .style = ButtonStyle::Primary});
}

}  // namespace tarnwick
