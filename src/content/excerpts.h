// Internal pieces of the review excerpts: the line writer and the excerpts of
// text, raw binary and game-resource edits.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "content/content.h"
#include "resource/resource.h"

namespace tarnwick {

// The columns a character takes in an excerpt: escapes for tabs and control
// characters ("\t", "\x01", "\u0085") are wider than one.
std::size_t visible_columns(char32_t code_point);

// Builds the text of one excerpt within a column budget. Characters are
// appended in their visible form; a text that would grow past the budget is
// cut at a character boundary and ends in "…".
class ExcerptWriter {
 public:
  explicit ExcerptWriter(std::size_t columns) : limit_(columns) {}

  void append(std::string_view utf8);
  void open_mark() { mark_begin_ = text_.size(); }
  void close_mark(ExcerptMark mark);
  ExcerptLine finish() &&;

 private:
  void append_character(std::string_view visible, std::size_t columns);

  std::string text_;
  std::vector<ExcerptSpan> marks_;
  std::size_t limit_;
  std::size_t columns_ = 0;
  std::size_t mark_begin_ = 0;
  std::optional<std::size_t> cut_at_;  // where a "…" goes if the budget runs out
  bool overflowed_ = false;
};

inline constexpr std::string_view kEllipsis = "…";
inline constexpr std::string_view kArrow = "→";

// prefix followed by body, the body's marks moved along.
ExcerptLine prefixed(std::string_view prefix, ExcerptLine body);
void append_line(ExcerptLine& line, const ExcerptLine& tail);

// "  … and {n} more {what}", or nothing when n is 0.
void add_more_line(std::vector<ExcerptLine>& lines, std::uint64_t more, std::string_view what);

std::vector<ExcerptLine> text_excerpts(std::string_view text, std::string_view find, const Replacement& replacement,
                                       MatchCase match_case);

// Offsets of a raw binary edit, or of a fixed-width resource edit in its
// decoded pages (label "decoded"), before and after.
std::vector<ExcerptLine> byte_excerpts(std::string_view before, std::string_view after, std::string_view find_pattern,
                                       std::string_view replacement_pattern, FoldAsciiCase fold,
                                       std::string_view label);

// The first names a format-aware resource edit renames.
std::vector<ExcerptLine> renamed_name_excerpts(const std::vector<RenamedResourceName>& names, std::string_view find,
                                               const Replacement& replacement, MatchCase match_case);

}  // namespace tarnwick
