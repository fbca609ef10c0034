// Section 3: the wrapped, scrolled review text, its page buttons, Copy and
// the button that opens the apply confirmation.
#include <algorithm>

#include "common/utf8.h"

#include "native_linux/ui/screen_layout.h"

namespace tarnwick {
namespace {

constexpr std::int32_t kReviewLineHeight = 19;
constexpr std::int32_t kScrollBarSlop = 4;

ActionCode code(UiAction action) { return static_cast<ActionCode>(action); }

// On screen the found text is drawn in the accent colour, its replacement in
// the colour of success.
Colour mark_colour(ExcerptMark mark) {
  return mark == ExcerptMark::Find ? palette::kAccentBright : palette::kPositive;
}

// One line of the review wrapped as wrap_text wraps it (tabs as four spaces,
// control characters dropped, display lines where `fit` ends them), carrying
// the marks along. The line is valid UTF-8: excerpt lines always are.
void wrap_marked_line(std::string_view line, const std::vector<ExcerptSpan>& marks, LineFit& fit,
                      std::vector<ExcerptLine>& out) {
  ExcerptLine current;
  fit.new_line();
  const auto append = [&](std::string_view piece, const ExcerptSpan* mark) {
    if (fit.starts_display_line(piece)) {
      out.push_back(std::move(current));
      current = {};
    }
    const std::size_t begin = current.text.size();
    current.text += piece;
    if (mark == nullptr) return;
    if (!current.marks.empty() && current.marks.back().end == begin && current.marks.back().mark == mark->mark) {
      current.marks.back().end = current.text.size();
    } else {
      current.marks.push_back({begin, current.text.size(), mark->mark});
    }
  };
  auto mark = marks.begin();
  for (std::size_t offset = 0; offset < line.size();) {
    const Utf8Step step = utf8_step(line, offset);
    while (mark != marks.end() && mark->end <= offset) ++mark;
    const ExcerptSpan* inside = mark != marks.end() && mark->begin <= offset ? &*mark : nullptr;
    if (step.code_point == U'\t') {
      for (int i = 0; i < 4; ++i) append(" ", inside);
    } else if (!is_control_character(step.code_point)) {
      append(line.substr(offset, step.length), inside);
    }
    offset += step.length;
  }
  out.push_back(std::move(current));
}

// The review text's lines wrapped for the pane, each with the marks in it.
std::vector<ExcerptLine> wrap_review_text(const MarkedReviewText& review, LineFit& fit) {
  std::vector<ExcerptLine> lines;
  auto mark = review.marks.begin();
  std::size_t start = 0;
  while (true) {
    const std::size_t feed = review.text.find('\n', start);
    const std::size_t end = feed == std::string::npos ? review.text.size() : feed;
    std::vector<ExcerptSpan> marks;
    for (; mark != review.marks.end() && mark->begin < end; ++mark) {
      marks.push_back({mark->begin - start, std::min(mark->end, end) - start, mark->mark});
    }
    const std::string_view line = std::string_view(review.text).substr(start, end - start);
    if (marks.empty() || !is_valid_utf8(line)) {
      for (std::string& piece : wrap_text(line, fit)) lines.push_back({std::move(piece), {}});
    } else {
      wrap_marked_line(line, marks, fit, lines);
    }
    if (feed == std::string::npos) break;
    start = feed + 1;
  }
  return lines;
}

// A line drawn in pieces where it is marked, else in one piece.
void draw_marked_line(Canvas& canvas, std::int32_t x, std::int32_t baseline, const ExcerptLine& line) {
  if (line.marks.empty()) {
    canvas.draw_text(x, baseline, line.text, palette::kText, FontRole::Mono13);
    return;
  }
  const std::string_view text = line.text;
  std::size_t at = 0;
  const auto draw_piece = [&](std::size_t end, Colour colour) {
    const std::string_view piece = text.substr(at, end - at);
    canvas.draw_text(x, baseline, piece, colour, FontRole::Mono13);
    x += canvas.measure_text(piece, FontRole::Mono13);
    at = end;
  };
  for (const ExcerptSpan& mark : line.marks) {
    if (mark.begin > at) draw_piece(mark.begin, palette::kText);
    draw_piece(mark.end, mark_colour(mark.mark));
  }
  if (at < text.size()) draw_piece(text.size(), palette::kText);
}

// The line in the review's font when it fits the width, else in the smaller one.
FontRole fitting_font(Canvas& canvas, std::string_view line, std::int32_t width) {
  return canvas.measure_text(line, FontRole::Mono13) <= width ? FontRole::Mono13 : FontRole::Mono11;
}

}  // namespace

ProgressLayout progress_layout(const MainLayout& layout) {
  const std::int32_t left = layout.left_column + 32;
  const std::int32_t width = layout.width - 36 - left;
  const std::int32_t bottom = layout.height;
  return ProgressLayout{.line = Rect{left, bottom - 127, width, 20},
                        .bar = Rect{left, bottom - 102, width, 4},
                        .cancel = Rect{left, bottom - 91, 104, 33},
                        .note_baseline = bottom - 78};
}

namespace {

// While a worker runs, in place of the page buttons and Apply: the progress
// line, its bar, Cancel while the work may still stop, and the time it has run.
void draw_progress(Canvas& canvas, const UiState& ui, const MainLayout& main) {
  const ProgressLayout layout = progress_layout(main);
  const ProgressView& progress = ui.worker.progress;
  if (!progress.line.empty()) {
    canvas.push_text_clip(layout.line);
    canvas.draw_text(layout.line.x, layout.line.y + 15, progress.line, palette::kText,
                     fitting_font(canvas, progress.line, layout.line.width));
    canvas.pop_text_clip();
  }
  if (progress.bar_permille) {
    const Rect& bar = layout.bar;
    canvas.fill_rect(bar, palette::kBorder);
    canvas.fill_rect(Rect{bar.x, bar.y, static_cast<std::int32_t>(std::int64_t{bar.width} * *progress.bar_permille / 1000),
                          bar.height},
                     palette::kAccent);
  }
  const bool button = progress.cancel == CancelOffer::Offered || progress.cancel == CancelOffer::Requested;
  if (button) {
    draw_button(canvas, layout.cancel,
                ButtonView{.label = "Cancel", .action = code(UiAction::CancelWork),
                           .enabled = progress.cancel == CancelOffer::Offered});
  }
  const std::int32_t note_x = button ? layout.cancel.x + layout.cancel.width + 12 : layout.cancel.x;
  canvas.push_text_clip(Rect{note_x, layout.cancel.y, layout.line.x + layout.line.width - note_x, layout.cancel.height});
  canvas.draw_text(note_x, layout.note_baseline, cancel_offer_text(progress.cancel),
                   progress.cancel == CancelOffer::Requested ? palette::kWarning : palette::kTextSecondary,
                   FontRole::Mono11);
  canvas.draw_text(note_x, layout.note_baseline + 15, "Elapsed " + format_elapsed(progress.elapsed_seconds),
                   palette::kTextSecondary, FontRole::Mono11);
  canvas.pop_text_clip();
}

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
  review.scroll_track = Rect{layout.width - 29, review.text_area.y, kScrollBarWidth, text_height};
  // A 3-pixel track is hard to hit: presses count from a few pixels either side,
  // short of the text area and the panel's edge.
  review.scroll_bar_target = Rect{layout.width - 29 - kScrollBarSlop, review.text_area.y,
                                  kScrollBarWidth + 2 * kScrollBarSlop, text_height};
  return review;
}

void press_review_scroll_bar(UiState& ui, std::int32_t y) {
  const ReviewScrollView& view = ui.review_view;
  if (ui.worker.busy() || view.total_lines <= view.visible_lines) return;
  const std::int64_t last_first = static_cast<std::int64_t>(view.total_lines - view.visible_lines);
  const std::int64_t first = std::clamp<std::int64_t>(ui.review_scroll, 0, last_first);
  const ScrollThumb thumb = scroll_thumb(view.track.height, view.total_lines, view.visible_lines,
                                         static_cast<std::uint64_t>(first));
  const std::int32_t along = y - view.track.y;
  const auto page = static_cast<std::int64_t>(view.visible_lines);
  if (along < thumb.offset) {
    ui.review_scroll = std::max<std::int64_t>(0, first - page);
  } else if (along >= thumb.offset + thumb.length) {
    ui.review_scroll = std::min(last_first, first + page);
  } else {
    ui.review_drag_grab = along - thumb.offset;
  }
}

// The thumb follows the pointer; the first line is the one whose thumb
// position is nearest to where it is.
void drag_review_scroll_bar(UiState& ui, std::int32_t y) {
  const ReviewScrollView& view = ui.review_view;
  if (!ui.review_drag_grab || ui.worker.busy() || any_overlay_open(ui) || view.total_lines <= view.visible_lines) {
    return;
  }
  const std::uint64_t last_first = view.total_lines - view.visible_lines;
  const ScrollThumb thumb = scroll_thumb(view.track.height, view.total_lines, view.visible_lines, 0);
  const std::int64_t travel = view.track.height - thumb.length;
  if (travel <= 0) return;
  const std::int64_t offset = std::clamp<std::int64_t>(y - view.track.y - *ui.review_drag_grab, 0, travel);
  using Wide = unsigned __int128;  // a long review times the track must not wrap
  const auto first = static_cast<std::uint64_t>(
      (Wide{static_cast<std::uint64_t>(offset)} * last_first + static_cast<std::uint64_t>(travel) / 2) /
      static_cast<std::uint64_t>(travel));
  ui.review_scroll = static_cast<std::int64_t>(std::min(first, last_first));
}

void end_review_drag(UiState& ui) { ui.review_drag_grab.reset(); }

void scroll_review_to_top(UiState& ui) { ui.review_scroll = 0; }

// To the last page of lines that were drawn; the next frame clamps again
// should the text have changed since.
void scroll_review_to_bottom(UiState& ui) {
  const ReviewScrollView& view = ui.review_view;
  ui.review_scroll =
      view.total_lines > view.visible_lines ? static_cast<std::int64_t>(view.total_lines - view.visible_lines) : 0;
}

// Clamps the scroll in place and draws the visible slice of wrapped lines,
// each by draw_line(row, line), inside the text clip.
template <class Line, class DrawLine>
void draw_scrolled_lines(Canvas& canvas, const std::vector<Line>& lines, Rect area, std::int32_t visible,
                         std::int64_t& scroll, DrawLine draw_line) {
  const auto total = static_cast<std::int64_t>(lines.size());
  scroll = std::clamp<std::int64_t>(scroll, 0, std::max<std::int64_t>(0, total - visible));
  canvas.push_text_clip(area);
  const std::int64_t end = std::min<std::int64_t>(total, scroll + visible + 1);
  for (std::int64_t i = scroll; i < end; ++i) {
    draw_line(static_cast<std::int32_t>(i - scroll), lines[static_cast<std::size_t>(i)]);
  }
  canvas.pop_text_clip();
}

void draw_scrolled_text(Canvas& canvas, const std::vector<std::string>& lines, Rect area, std::int32_t text_x,
                        std::int32_t first_baseline, std::int32_t visible, std::int64_t& scroll) {
  draw_scrolled_lines(canvas, lines, area, visible, scroll, [&](std::int32_t row, const std::string& line) {
    canvas.draw_text(text_x, first_baseline + row * kReviewLineHeight, line, palette::kText, FontRole::Mono13);
  });
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

  refresh_review_excerpts(ui);
  LineFit fit(canvas, FontRole::Mono13, static_cast<std::size_t>(review.columns));
  const std::vector<ExcerptLine> lines = wrap_review_text(compose_marked_review_text(ui), fit);
  draw_scrolled_lines(canvas, lines, review.text_area, review.visible_lines, ui.review_scroll,
                      [&](std::int32_t row, const ExcerptLine& line) {
                        draw_marked_line(canvas, left + 32, top + 86 + row * kReviewLineHeight, line);
                      });
  ui.review_view = ReviewScrollView{review.scroll_track, lines.size(), static_cast<std::uint64_t>(review.visible_lines)};
  draw_scroll_bar(canvas, review.scroll_track, lines.size(), static_cast<std::uint64_t>(review.visible_lines),
                  static_cast<std::uint64_t>(ui.review_scroll));
  if (idle && lines.size() > static_cast<std::size_t>(review.visible_lines)) {
    canvas.add_hit_region(HitRegion{review.scroll_bar_target, code(UiAction::ReviewScrollBar), 0});
  }

  if (!idle) {
    draw_progress(canvas, ui, layout);
    return;
  }
  const std::size_t page = shown_review_page(ui);
  const std::size_t pages = review_page_count(ui);
  draw_button(canvas, Rect{left + 32, bottom - 131, 101, 29},
              ButtonView{.label = "Previous", .action = code(UiAction::PreviousPage), .enabled = idle && page > 0});
  draw_button(canvas, Rect{left + 141, bottom - 131, 86, 29},
              ButtonView{.label = "Next", .action = code(UiAction::NextPage), .enabled = idle && page + 1 < pages});
  draw_button(canvas, Rect{right - 196, bottom - 131, 84, 29},
              ButtonView{.label = "Copy all", .action = code(UiAction::CopyAllPages), .enabled = idle});
  draw_button(canvas, Rect{right - 104, bottom - 131, 68, 29},
              ButtonView{.label = "Copy", .action = code(UiAction::CopyReview), .enabled = idle});
  canvas.draw_text(left + 240, bottom - 111, "Page " + std::to_string(page + 1), palette::kTextSecondary,
                   FontRole::Mono11);
  const std::int32_t pane_width = right - left - 16;
  // While an interrupted apply blocks previewing there is nothing to apply:
  // the pane's main button recovers it instead.
  if (ui.interrupted_apply_journal) {
    draw_button(canvas, Rect{left + 32, bottom - 91, pane_width - 52, 33},
                ButtonView{.label = "Recover",
                           .action = code(UiAction::RecoverInterruptedApply),
                           .enabled = idle,
                           .style = ButtonStyle::Primary});
    return;
  }
  // The completion report of an apply offers its undo where Apply was; the
  // undo is previewed first, then applied through this same button.
  if (ui.undo_record && !ui.preview) {
    draw_button(canvas, Rect{left + 32, bottom - 91, pane_width - 52, 33},
                ButtonView{.label = "Undo last apply", .action = code(UiAction::UndoLastApply), .enabled = idle});
    return;
  }
  draw_button(canvas, Rect{left + 32, bottom - 91, pane_width - 52, 33},
              ButtonView{.label = "Apply reviewed changes",
                         .action = code(UiAction::ApplyReviewedChanges),
                         .enabled = idle && compose_confirmation_text(ui).has_value(),
                         .style = ButtonStyle::Primary});
}

}  // namespace tarnwick
