// The one literal text replacer: leftmost, non-overlapping matches with ASCII-only case folding.
#include <cstring>

#include "common/text.h"
#include "literal/byte_search.h"
#include "literal/literal.h"

namespace tarnwick {

namespace {

constexpr std::string_view kEmptyFind = "Find text cannot be empty.";
constexpr std::string_view kTooLarge = "Replacement is too large.";
constexpr std::string_view kOutputTooLarge =
    "Replacement output exceeds the safe size limit. Narrow the selection or replacement.";

}  // namespace

Result<TextReplacement> replace_literal_text(std::string_view text, std::string_view find,
                                             std::string_view replacement, MatchCase match_case,
                                             std::uint64_t output_limit) {
  if (find.empty()) return fail(std::string(kEmptyFind));
  if (text.size() < find.size()) return TextReplacement{std::string(text), 0};
  // Only A-Z fold, bytewise; UTF-8 bytes of other characters are 80 or above
  // and never fold, so the byte matcher of raw binary replacement serves text too.
  const BytePattern matcher(find, match_case == MatchCase::Ignore ? FoldAsciiCase::Yes : FoldAsciiCase::No);

  // First pass only counts, so that the output is sized once and the limit is
  // checked before any output memory is taken.
  const std::uint64_t count = matcher.scan(text, [](std::size_t) {});
  if (count == 0) return TextReplacement{std::string(text), 0};

  const std::uint64_t removed = saturating_mul(count, find.size());
  if (removed == UINT64_MAX) return fail(std::string(kTooLarge));
  const std::uint64_t inserted = saturating_mul(count, replacement.size());
  const std::uint64_t new_length = saturating_add(text.size() - removed, inserted);
  if (inserted == UINT64_MAX || new_length == UINT64_MAX || new_length > output_limit ||
      new_length > std::string().max_size()) {
    return fail(std::string(kOutputTooLarge));
  }

  std::string result;
  const std::size_t length = static_cast<std::size_t>(new_length);
  // The callback returns length, not its size argument: g++ 12 passes the
  // grown capacity there instead of the requested size.
  result.resize_and_overwrite(length, [&](char* out, std::size_t) {
    std::size_t written = 0;
    std::size_t copied_up_to = 0;
    matcher.scan(text, [&](std::size_t at) {
      std::memcpy(out + written, text.data() + copied_up_to, at - copied_up_to);
      written += at - copied_up_to;
      if (!replacement.empty()) std::memcpy(out + written, replacement.data(), replacement.size());
      written += replacement.size();
      copied_up_to = at + find.size();
    });
    std::memcpy(out + written, text.data() + copied_up_to, text.size() - copied_up_to);
    return length;
  });
  return TextReplacement{std::move(result), count};
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
