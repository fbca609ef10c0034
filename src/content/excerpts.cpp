// compose_content_excerpts: what one planned edit changes inside its file, as
// the review shows it, and the line writer the three kinds of excerpt share.
#include "content/excerpts.h"

#include <algorithm>
#include <cstdio>

#include "common/utf8.h"
#include "content/classify.h"

namespace tarnwick {

namespace {

// Escapes for the characters a line cannot show as they are. Line breaks only
// occur inside a match that spans lines.
std::string_view named_escape(char32_t code_point) {
  switch (code_point) {
    case U'\0': return "\\0";
    case U'\t': return "\\t";
    case U'\n': return "\\n";
    case U'\v': return "\\v";
    case U'\f': return "\\f";
    case U'\r': return "\\r";
    default: return {};
  }
}

// The visible form of a control character: a named escape, "\x{HH}" below
// U+0080 and "\u{HHHH}" for the C1 controls.
std::string control_escape(char32_t code_point) {
  if (const std::string_view named = named_escape(code_point); !named.empty()) return std::string(named);
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, code_point < 0x80 ? "\\x%02X" : "\\u%04X",
                static_cast<unsigned>(code_point));
  return buffer;
}

}  // namespace

std::size_t visible_columns(char32_t code_point) {
  return is_control_character(code_point) ? control_escape(code_point).size() : 1;
}

void ExcerptWriter::append_character(std::string_view visible, std::size_t columns) {
  if (overflowed_) return;
  // The ellipsis takes one column.
  if (!cut_at_ && columns_ + columns + 1 > limit_) cut_at_ = text_.size();
  if (columns_ + columns > limit_) {
    overflowed_ = true;
    return;
  }
  text_.append(visible);
  columns_ += columns;
}

void ExcerptWriter::append(std::string_view utf8) {
  for (std::size_t at = 0; at < utf8.size();) {
    const Utf8Step step = utf8_step(utf8, at);
    const std::size_t length = std::min<std::size_t>(step.length, utf8.size() - at);
    if (!step.valid) {
      append_character("\uFFFD", 1);
    } else if (is_control_character(step.code_point)) {
      const std::string escape = control_escape(step.code_point);
      append_character(escape, escape.size());
    } else {
      append_character(utf8.substr(at, length), 1);
    }
    at += length;
  }
}

void ExcerptWriter::close_mark(ExcerptMark mark) {
  if (mark_begin_ < text_.size()) marks_.push_back({mark_begin_, text_.size(), mark});
}

ExcerptLine ExcerptWriter::finish() && {
  if (overflowed_) {
    text_.resize(*cut_at_);
    std::erase_if(marks_, [&](const ExcerptSpan& span) { return span.begin >= *cut_at_; });
    for (ExcerptSpan& span : marks_) span.end = std::min(span.end, *cut_at_);
    text_.append(kEllipsis);
  }
  return ExcerptLine{std::move(text_), std::move(marks_)};
}

ExcerptLine prefixed(std::string_view prefix, ExcerptLine body) {
  ExcerptLine line{std::string(prefix), {}};
  append_line(line, body);
  return line;
}

void append_line(ExcerptLine& line, const ExcerptLine& tail) {
  const std::size_t shift = line.text.size();
  line.text += tail.text;
  for (ExcerptSpan span : tail.marks) {
    span.begin += shift;
    span.end += shift;
    line.marks.push_back(span);
  }
}

void add_more_line(std::vector<ExcerptLine>& lines, std::uint64_t more, std::string_view what) {
  if (more == 0) return;
  lines.push_back({"  " + std::string(kEllipsis) + " and " + std::to_string(more) + " more " + std::string(what), {}});
}

Result<std::vector<ExcerptLine>> compose_content_excerpts(std::string_view path, std::string_view original,
                                                          std::string_view edited, EditedAs edited_as,
                                                          std::string_view find, const Replacement& replacement,
                                                          MatchCase match_case, const ContentOptions& options) {
  if (find.empty()) return fail("Find text cannot be empty.");
  if (edited_as == EditedAs::Text) {
    // The same decoding as the preview's, so Auto finds the same encoding.
    const DecodedTextView decoded = TRY(decode_text_view(original, options.encoding));
    return text_excerpts(decoded.text(), find, replacement, match_case);
  }
  const auto signature = match_archive_signature(original);
  const bool resource = signature && signature->kind == SignatureKind::GameResource;
  const ResourceKind kind = resource ? resource_kind_for_path(path) : ResourceKind::None;
  if (kind != ResourceKind::None) {
    const auto names = TRY(list_renamed_resource_names(original, find, replacement, match_case, options.encoding, kind));
    return renamed_name_excerpts(names, find, replacement, match_case);
  }
  const BinaryLiterals literals = TRY(encode_binary_literals(find, replacement, options.encoding));
  // Bytewise folding, as the raw binary replacer applies it.
  const FoldAsciiCase fold = match_case == MatchCase::Ignore && is_ascii(find) ? FoldAsciiCase::Yes : FoldAsciiCase::No;
  // Every form of a case-preserving replacement is as wide as the typed one.
  if (!resource) return byte_excerpts(original, edited, literals.find, literals.replacement, fold, "");
  const std::string before = TRY(decode_rsc7_pages(original));
  const std::string after = TRY(decode_rsc7_pages(edited));
  return byte_excerpts(before, after, literals.find, literals.replacement, fold, "decoded ");
}

}  // namespace tarnwick
