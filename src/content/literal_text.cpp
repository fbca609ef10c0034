// The one literal text replacer: leftmost, non-overlapping matches with ASCII-only case folding.
#include <array>
#include <cstring>
#include <vector>

#include "common/text.h"
#include "content/content.h"

namespace tarnwick {

namespace {

constexpr std::size_t kNoMatch = std::string_view::npos;

constexpr std::array<unsigned char, 256> make_ascii_fold_table() {
  std::array<unsigned char, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    table[byte] = static_cast<unsigned char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte);
  }
  return table;
}
constexpr std::array<unsigned char, 256> kAsciiFold = make_ascii_fold_table();

// Knuth-Morris-Pratt over (optionally folded) bytes, so that a hostile text such
// as "aaaa…" against "aaa…ab" stays linear; runs of bytes that cannot start a
// match are skipped with memchr or a table scan, which is where names and most
// text spend their time.
class LiteralMatcher {
 public:
  LiteralMatcher(std::string_view find, MatchCase match_case) : fold_(match_case == MatchCase::Ignore) {
    // Names are matched 50,000 times per preview: short literals live in
    // inline storage, so that a name costs no allocation here.
    char* pattern = inline_pattern_.data();
    failure_ = inline_failure_.data();
    if (find.size() > kInlineLength) {
      heap_pattern_.resize(find.size());
      heap_failure_.resize(find.size());
      pattern = heap_pattern_.data();
      failure_ = heap_failure_.data();
    }
    for (std::size_t i = 0; i < find.size(); ++i) {
      pattern[i] = fold_ ? static_cast<char>(kAsciiFold[static_cast<unsigned char>(find[i])]) : find[i];
    }
    pattern_ = std::string_view(pattern, find.size());
    failure_[0] = 0;
    for (std::size_t i = 1, k = 0; i < pattern_.size(); ++i) {
      while (k > 0 && pattern_[i] != pattern_[k]) k = failure_[k - 1];
      if (pattern_[i] == pattern_[k]) ++k;
      failure_[i] = k;
    }
    const unsigned char first = static_cast<unsigned char>(pattern_[0]);
    first_is_letter_ = fold_ && first >= 'a' && first <= 'z';
  }

  LiteralMatcher(const LiteralMatcher&) = delete;  // pattern_ and failure_ may point into this object
  LiteralMatcher& operator=(const LiteralMatcher&) = delete;

  // Start of the leftmost match at or after from, or kNoMatch.
  std::size_t find(std::string_view text, std::size_t from) const {
    const std::size_t length = pattern_.size();
    std::size_t matched = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
      if (matched == 0) {
        i = next_candidate(text, i);
        if (i == kNoMatch) return kNoMatch;
      }
      const char byte = fold_ ? static_cast<char>(kAsciiFold[static_cast<unsigned char>(text[i])]) : text[i];
      while (matched > 0 && pattern_[matched] != byte) matched = failure_[matched - 1];
      if (pattern_[matched] == byte) ++matched;
      if (matched == length) return i + 1 - length;
    }
    return kNoMatch;
  }

 private:
  std::size_t next_candidate(std::string_view text, std::size_t from) const {
    const unsigned char first = static_cast<unsigned char>(pattern_[0]);
    if (!first_is_letter_) {
      const void* hit = std::memchr(text.data() + from, first, text.size() - from);
      return hit == nullptr ? kNoMatch : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    }
    for (std::size_t i = from; i < text.size(); ++i) {
      if (kAsciiFold[static_cast<unsigned char>(text[i])] == first) return i;
    }
    return kNoMatch;
  }

  static constexpr std::size_t kInlineLength = 64;

  bool fold_;
  bool first_is_letter_ = false;
  std::string_view pattern_;  // folded when fold_
  std::size_t* failure_ = nullptr;
  std::array<char, kInlineLength> inline_pattern_{};
  std::array<std::size_t, kInlineLength> inline_failure_{};
  std::string heap_pattern_;
  std::vector<std::size_t> heap_failure_;
};

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
  const LiteralMatcher matcher(find, match_case);

  // First pass only counts, so that the output is sized once and the limit is
  // checked before any output memory is taken.
  std::uint64_t count = 0;
  for (std::size_t at = matcher.find(text, 0); at != kNoMatch; at = matcher.find(text, at + find.size())) {
    ++count;
  }
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
    for (std::size_t at = matcher.find(text, 0); at != kNoMatch; at = matcher.find(text, at + find.size())) {
      std::memcpy(out + written, text.data() + copied_up_to, at - copied_up_to);
      written += at - copied_up_to;
      if (!replacement.empty()) std::memcpy(out + written, replacement.data(), replacement.size());
      written += replacement.size();
      copied_up_to = at + find.size();
    }
    std::memcpy(out + written, text.data() + copied_up_to, text.size() - copied_up_to);
    return length;
  });
  return TextReplacement{std::move(result), count};
}

}  // namespace tarnwick
