// Excerpts of raw binary and game-resource edits: the first matching offsets
// in hexadecimal and printable ASCII, or the first names a resource renames.
#include <algorithm>
#include <cstdio>

#include "common/text.h"
#include "content/excerpts.h"

namespace tarnwick {

namespace {

// Bytes shown on each side of a match, and of a match itself at most.
constexpr std::size_t kContextBytes = 4;
constexpr std::size_t kShownPatternBytes = 16;
// Later matches within this many bytes may still show inside the last window.
constexpr std::size_t kTailBytes = kContextBytes + kShownPatternBytes;
// Each of the two names of a renamed-name line is cut at this width.
constexpr std::size_t kNameColumns = 48;

// Where the k-th match lies after replacing: every match before it changed
// its length by the same amount. (Matches never overlap, so offset >= k * from.)
std::size_t replaced_offset(std::size_t offset, std::size_t k, std::size_t from, std::size_t to) {
  return offset - k * from + k * to;
}

// The bytes around data[at, at + length) as "{hex}  {ascii}", with the ranges
// [start, start + marked_length) of marked_starts marked in both columns.
ExcerptLine hex_excerpt(std::string_view data, std::size_t at, std::size_t length,
                        const std::vector<std::size_t>& marked_starts, std::size_t marked_length, ExcerptMark mark) {
  at = std::min(at, data.size());
  const std::size_t begin = at - std::min(at, kContextBytes);
  const bool truncated = length > kShownPatternBytes;
  const std::size_t end =
      std::min(data.size(), truncated ? at + kShownPatternBytes : at + length + kContextBytes);
  ExcerptLine line;
  std::string ascii;
  for (std::size_t i = begin; i < end; ++i) {
    const auto byte = static_cast<unsigned char>(data[i]);
    char digits[4];
    std::snprintf(digits, sizeof digits, i == begin ? "%02X" : " %02X", byte);
    line.text += digits;
    ascii += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
  }
  if (truncated) {
    line.text.append(" ").append(kEllipsis);
    ascii.append(kEllipsis);
  }
  const std::size_t ascii_at = line.text.size() + 2;
  for (const std::size_t start : marked_starts) {
    const std::size_t first = std::max(start, begin);
    const std::size_t last = std::min(start + marked_length, end);
    if (first >= last) continue;
    line.marks.push_back({3 * (first - begin), 3 * (last - begin) - 1, mark});
    line.marks.push_back({ascii_at + first - begin, ascii_at + last - begin, mark});
  }
  line.text.append("  ").append(ascii);
  std::ranges::sort(line.marks, {}, &ExcerptSpan::begin);
  return line;
}

}  // namespace

std::vector<ExcerptLine> byte_excerpts(std::string_view before, std::string_view after, std::string_view find_pattern,
                                       std::string_view replacement_pattern, FoldAsciiCase fold,
                                       std::string_view label) {
  const MatchSample sample = sample_literal_matches(before, find_pattern, fold, kExcerptMatches, kTailBytes);
  const std::size_t from = find_pattern.size();
  const std::size_t to = replacement_pattern.size();
  std::vector<std::size_t> replaced;
  for (std::size_t k = 0; k < sample.offsets.size(); ++k)
    replaced.push_back(replaced_offset(sample.offsets[k], k, from, to));

  std::vector<ExcerptLine> lines;
  const std::size_t shown = std::min(kExcerptMatches, sample.offsets.size());
  for (std::size_t k = 0; k < shown; ++k) {
    const std::string place = std::string(label) + hex_offset(sample.offsets[k]);
    lines.push_back(
        prefixed("  " + place + ": ", hex_excerpt(before, sample.offsets[k], from, sample.offsets, from, ExcerptMark::Find)));
    lines.push_back(prefixed("  " + std::string(place.size(), ' ') + std::string(kArrow) + " ",
                             hex_excerpt(after, replaced[k], to, replaced, to, ExcerptMark::Replacement)));
  }
  add_more_line(lines, sample.count - shown, "matches in this file");
  return lines;
}

std::vector<ExcerptLine> renamed_name_excerpts(const std::vector<RenamedResourceName>& names, std::string_view find,
                                               const Replacement& replacement, MatchCase match_case) {
  const FoldAsciiCase fold = match_case == MatchCase::Ignore ? FoldAsciiCase::Yes : FoldAsciiCase::No;
  // Marks a name's matches, or where their replacements went in the new name.
  const auto marked_name = [&](std::string_view name, const std::vector<std::size_t>& starts, std::size_t length,
                               ExcerptMark mark) {
    ExcerptWriter writer(kNameColumns);
    std::size_t at = 0;
    for (const std::size_t start : starts) {
      writer.append(name.substr(at, start - at));
      writer.open_mark();
      writer.append(name.substr(start, length));
      writer.close_mark(mark);
      at = start + length;
    }
    writer.append(name.substr(std::min(at, name.size())));
    return std::move(writer).finish();
  };

  std::vector<ExcerptLine> lines;
  const std::size_t shown = std::min(kExcerptNames, names.size());
  for (std::size_t i = 0; i < shown; ++i) {
    const RenamedResourceName& name = names[i];
    // A name is at most 64 KiB: every match start is kept, for the marks.
    const MatchSample sample = sample_literal_matches(name.old_text, find, fold, name.old_text.size(), 0);
    std::vector<std::size_t> replaced;
    for (std::size_t k = 0; k < sample.offsets.size(); ++k)
      replaced.push_back(replaced_offset(sample.offsets[k], k, find.size(), replacement.size()));
    ExcerptLine line = prefixed("  " + std::string(name.role) + "  ",
                                marked_name(name.old_text, sample.offsets, find.size(), ExcerptMark::Find));
    append_line(line, ExcerptLine{"  " + std::string(kArrow) + "  ", {}});
    append_line(line, marked_name(name.new_text, replaced, replacement.size(), ExcerptMark::Replacement));
    lines.push_back(std::move(line));
  }
  add_more_line(lines, names.size() - shown, "renamed names in this file");
  return lines;
}

}  // namespace tarnwick
