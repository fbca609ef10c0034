// Excerpts of a text edit: the decoded lines around the first matches, with
// their line numbers, before and after the replacement.
#include <algorithm>

#include "common/utf8.h"
#include "content/excerpts.h"

namespace tarnwick {

namespace {

constexpr std::string_view kLineBreaks = "\r\n";
// Matches beside the last shown one may share its excerpt: they start within
// one excerpt's width after it, and a column is at most a four-byte character.
constexpr std::size_t kTailBytes = 4 * kExcerptColumns;

// Line breaks in [from, to): LF, CR LF and a lone CR each end one line.
std::uint64_t count_line_breaks(std::string_view text, std::size_t from, std::size_t to) {
  std::uint64_t breaks = 0;
  for (std::size_t i = from; i < to; ++i) {
    if (text[i] == '\r' || (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))) ++breaks;
  }
  return breaks;
}

struct Reach {
  std::size_t position;
  std::size_t columns;
};

// Whole characters before `from`, not before `limit`, within `budget` columns.
Reach reach_back(std::string_view text, std::size_t from, std::size_t limit, std::size_t budget) {
  Reach reach{from, 0};
  while (reach.position > limit) {
    std::size_t start = reach.position - 1;
    while (start > limit && is_utf8_continuation(text[start])) --start;
    const std::size_t columns = visible_columns(utf8_step(text, start).code_point);
    if (reach.columns + columns > budget) break;
    reach.columns += columns;
    reach.position = start;
  }
  return reach;
}

// Whole characters from `from`, not past `limit`, within `budget` columns.
Reach reach_forward(std::string_view text, std::size_t from, std::size_t limit, std::size_t budget) {
  Reach reach{from, 0};
  while (reach.position < limit) {
    const Utf8Step step = utf8_step(text, reach.position);
    const std::size_t columns = visible_columns(step.code_point);
    if (reach.columns + columns > budget) break;
    reach.columns += columns;
    reach.position = std::min(limit, reach.position + step.length);
  }
  return reach;
}

struct Window {
  std::size_t begin;
  std::size_t end;
  bool cut_before;
  bool cut_after;
};

class TextExcerpts {
 public:
  TextExcerpts(std::string_view text, std::string_view find, const Replacement& replacement, MatchCase match_case)
      : text_(text),
        find_size_(find.size()),
        replacement_(replacement),
        sample_(sample_literal_matches(text, find,
                                       match_case == MatchCase::Ignore ? FoldAsciiCase::Yes : FoldAsciiCase::No,
                                       kExcerptMatches, kTailBytes)),
        shown_(sample_.offsets.size(), false) {}

  std::vector<ExcerptLine> compose() {
    std::vector<ExcerptLine> lines;
    const std::size_t first = std::min(kExcerptMatches, sample_.offsets.size());
    for (std::size_t k = 0; k < first; ++k) {
      if (!shown_[k]) add_excerpt(lines, sample_.offsets[k]);
    }
    const auto shown = static_cast<std::uint64_t>(std::ranges::count(shown_, true));
    add_more_line(lines, sample_.count - shown, "matches in this file");
    return lines;
  }

 private:
  void add_excerpt(std::vector<ExcerptLine>& lines, std::size_t match) {
    const std::size_t match_end = match + find_size_;
    const std::size_t before = match == 0 ? std::string_view::npos : text_.find_last_of(kLineBreaks, match - 1);
    const std::size_t line_begin = before == std::string_view::npos ? 0 : before + 1;
    const std::size_t line_end = std::min(text_.size(), text_.find_first_of(kLineBreaks, match_end));
    line_number_ += count_line_breaks(text_, counted_up_to_, line_begin);
    counted_up_to_ = line_begin;

    const Window window = choose_window(line_begin, line_end, match, match_end);
    const std::string number = std::to_string(line_number_);
    lines.push_back(prefixed("  " + number + ": ", write(window, ExcerptMark::Find)));
    lines.push_back(
        prefixed("  " + std::string(number.size(), ' ') + std::string(kArrow) + " ", write(window, ExcerptMark::Replacement)));
  }

  // The line around the match, about kExcerptColumns wide: the whole line when
  // it fits, else the match with as much of the line on each side as fits,
  // never cutting through another match.
  Window choose_window(std::size_t line_begin, std::size_t line_end, std::size_t match, std::size_t match_end) const {
    const Reach inside = reach_forward(text_, match, match_end, kExcerptColumns);
    if (inside.position < match_end) return Window{match, match_end, match > line_begin, true};
    const std::size_t room = kExcerptColumns - inside.columns;
    const Reach whole_before = reach_back(text_, match, line_begin, room);
    const Reach whole_after = reach_forward(text_, match_end, line_end, room - whole_before.columns);
    if (whole_before.position == line_begin && whole_after.position == line_end)
      return Window{line_begin, line_end, false, false};

    // One column for each "…"; the side that is not cut leaves its room to the other.
    const std::size_t sides = room >= 2 ? room - 2 : 0;
    Reach left = reach_back(text_, match, line_begin, sides / 2);
    const bool cut_before = left.position > line_begin;
    const std::size_t used = left.columns + (cut_before ? 2 : 1);
    const Reach right = reach_forward(text_, match_end, line_end, room > used ? room - used : 0);
    const bool cut_after = right.position < line_end;
    if (!cut_after) left = reach_back(text_, match, line_begin, room > right.columns ? room - right.columns - 1 : 0);
    Window window{left.position, right.position, left.position > line_begin, cut_after};
    for (const std::size_t other : sample_.offsets) {
      if (other < window.begin && window.begin < other + find_size_) window.begin = other + find_size_;
      if (other != match && other < window.end && window.end < other + find_size_) {
        window.end = other;
        window.cut_after = true;
      }
    }
    return window;
  }

  // The window's text with every match in it marked: as it is (Find), or with
  // each match replaced (Replacement).
  ExcerptLine write(const Window& window, ExcerptMark mark) {
    ExcerptWriter writer(kExcerptColumns);
    if (window.cut_before) writer.append(kEllipsis);
    std::size_t at = window.begin;
    for (std::size_t k = 0; k < sample_.offsets.size(); ++k) {
      const std::size_t match = sample_.offsets[k];
      if (match < window.begin || match >= window.end) continue;
      shown_[k] = true;
      writer.append(text_.substr(at, match - at));
      const std::size_t match_end = std::min(window.end, match + find_size_);
      writer.open_mark();
      writer.append(mark == ExcerptMark::Find ? text_.substr(match, match_end - match)
                                              : replacement_.for_match(text_.substr(match, find_size_)));
      writer.close_mark(mark);
      at = match + find_size_;
    }
    if (at < window.end) writer.append(text_.substr(at, window.end - at));
    if (window.cut_after) writer.append(kEllipsis);
    return std::move(writer).finish();
  }

  std::string_view text_;
  std::size_t find_size_;
  const Replacement& replacement_;
  MatchSample sample_;
  std::vector<bool> shown_;
  std::uint64_t line_number_ = 1;
  std::size_t counted_up_to_ = 0;
};

}  // namespace

std::vector<ExcerptLine> text_excerpts(std::string_view text, std::string_view find, const Replacement& replacement,
                                       MatchCase match_case) {
  return TextExcerpts(text, find, replacement, match_case).compose();
}

}  // namespace tarnwick
