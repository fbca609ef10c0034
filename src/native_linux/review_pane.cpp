// Section 3: the wrapped, scrolled review text, its page buttons, Copy and
// the button that opens the apply confirmation.
#include <algorithm>

#include "native_linux/screen_layout.h"

namespace tarnwick {
namespace {

constexpr std::int32_t kReviewLineHeight = 19;

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

}  // namespace

ReviewLayout review_layout(const MainLayout& layout) {
  const std::int32_t l = layout.left_column;
  const std::int32_t m = layout.options_top;
  const std::int32_t pane = layout.width - l - 16;
  ReviewLayout review;
  review.panel = Rect{l + 16, m, pane - 20, layout.height - m - 48};
  const std::int32_t text_height = std::max(20, layout.height - m - 221);
  review.text_area = Rect{l + 31, m + 72, pane - 50, text_height};
  review.columns = std::max(10, (pane - 58) / kWrapPixelsPerColumn);
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
  const std::int32_t l = layout.left_column;
  const std::int32_t m = layout.options_top;
  const std::int32_t w = layout.width;
  const std::int32_t h = layout.height;
  const bool idle = !ui.worker.busy();
  canvas.fill_rect(review.panel, palette::kPanel);
  canvas.draw_text(l + 32, m + 28, "03  REVIEW CHANGES", palette::kText, FontRole::Sans16);
  canvas.draw_text(l + 32, m + 51,
                   review.panel.width < 600 ? "Preview first. Apply after reviewing every change."
                                            : "Preview first. Apply only when every change is right.",
                   palette::kTextSecondary, FontRole::Mono11);

  const std::vector<std::string> lines =
      wrap_text(compose_review_text(ui), static_cast<std::size_t>(review.columns));
  draw_scrolled_text(canvas, lines, review.text_area, l + 32, m + 86, review.visible_lines, ui.review_scroll);
  draw_scroll_bar(canvas, Rect{w - 29, review.text_area.y, kScrollBarWidth, review.text_area.height}, lines.size(),
                  static_cast<std::uint64_t>(review.visible_lines), static_cast<std::uint64_t>(ui.review_scroll));

  const std::size_t page = shown_review_page(ui);
  const std::size_t pages = review_page_count(ui);
  draw_button(canvas, Rect{l + 32, h - 131, 101, 29},
              ButtonView{.label = "Previous", .action = code(UiAction::PreviousPage), .enabled = idle && page > 0});
  draw_button(canvas, Rect{l + 141, h - 131, 86, 29},
              ButtonView{.label = "Next", .action = code(UiAction::NextPage), .enabled = idle && page + 1 < pages});
  draw_button(canvas, Rect{w - 104, h - 131, 68, 29},
              ButtonView{.label = "Copy", .action = code(UiAction::CopyReview), .enabled = idle});
  canvas.draw_text(l + 240, h - 111, "Page " + std::to_string(page + 1), palette::kTextSecondary, FontRole::Mono11);
  const std::int32_t pane = w - l - 16;
  draw_button(canvas, Rect{l + 32, h - 91, pane - 52, 33},
              ButtonView{.label = "Apply reviewed changes",
                         .action = code(UiAction::ApplyReviewedChanges),
                         .enabled = idle && compose_confirmation_text(ui).has_value(),
                         .style = ButtonStyle::Primary});
}

}  // namespace tarnwick
