// The one literal text replacer: leftmost, non-overlapping matches with ASCII-only case folding.
#include "common/memory.h"
#include "common/text.h"
#include "literal/byte_search.h"
#include "literal/literal.h"
#include "literal/replaced_output.h"

namespace tarnwick {

namespace {

constexpr std::string_view kEmptyFind = "Find text cannot be empty.";
constexpr std::string_view kTooLarge = "Replacement is too large.";
constexpr std::string_view kOutputTooLarge =
    "Replacement output exceeds the safe size limit. Narrow the selection or replacement.";

}  // namespace

Result<TextReplacement> replace_literal_text(std::string_view text, std::string_view find,
                                             const Replacement& replacement, MatchCase match_case,
                                             std::uint64_t output_limit, ReplacementMemory memory) {
  if (find.empty()) return fail(std::string(kEmptyFind));
  const auto unmatched = [&] {
    return TextReplacement{memory.unmatched == UnmatchedText::Copied ? std::string(text) : std::string(), 0, false};
  };
  if (text.size() < find.size()) return unmatched();
  // Only A-Z fold, bytewise; UTF-8 bytes of other characters are 80 or above
  // and never fold, so the byte matcher of raw binary replacement serves text too.
  const BytePattern matcher(find, match_case == MatchCase::Ignore ? FoldAsciiCase::Yes : FoldAsciiCase::No);

  // The scan counts every match (keeping their offsets), so that the output is
  // sized once and the limit is checked before any output memory is taken.
  const ScannedMatches matches = scan_matches(matcher, text);
  const std::uint64_t count = matches.count;
  if (count == 0) return unmatched();

  const std::uint64_t removed = saturating_mul(count, find.size());
  if (removed == UINT64_MAX) return fail(std::string(kTooLarge));
  const std::uint64_t inserted = saturating_mul(count, replacement.size());
  const std::uint64_t new_length = saturating_add(text.size() - removed, inserted);
  if (inserted == UINT64_MAX || new_length == UINT64_MAX || new_length > output_limit ||
      new_length > std::string().max_size()) {
    return fail(std::string(kOutputTooLarge));
  }

  TextReplacement result;
  if (memory.lent != nullptr) {
    result.text = std::move(*memory.lent);
    result.text.clear();  // its memory is wanted, not its text
  }
  // Memory that cannot be had is an output too large for this machine.
  if (!resize_for_overwrite(result.text, static_cast<std::size_t>(new_length))) return fail(std::string(kOutputTooLarge));
  // Each match gets the form of the replacement its own letters call for;
  // every form is equally long. Written as typed, it is the same at every
  // match, which then needs no look.
  const auto write = [&](auto replacement_for) {
    return write_replaced(matcher, text, matches, result.text.data(), replacement_for);
  };
  result.changed =
      replacement.preserves_case()
          ? write([&](std::size_t at) { return replacement.for_match(text.substr(at, find.size())); })
          : write([typed = replacement.typed()](std::size_t) { return typed; });
  result.count = count;
  return result;
}

LiteralFinder::LiteralFinder(std::string_view find, MatchCase match_case)
    : pattern_(std::make_unique<const BytePattern>(find,
                                                   match_case == MatchCase::Ignore ? FoldAsciiCase::Yes : FoldAsciiCase::No)) {}
LiteralFinder::LiteralFinder(LiteralFinder&&) noexcept = default;
LiteralFinder::~LiteralFinder() = default;

bool LiteralFinder::occurs_in(std::string_view text) const {
  // An empty find text is for replace_literal_text to refuse.
  if (pattern_->size() == 0) return true;
  if (text.size() < pattern_->size()) return false;
  bool found = false;
  pattern_->scan(text, [&](std::size_t) { found = true; });
  return found;
}

}  // namespace tarnwick
