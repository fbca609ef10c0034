// The literal replacers: one leftmost, non-overlapping matcher with ASCII-only
// case folding behind text replacement (names and text contents), raw binary
// replacement and the finder that tells whether a text holds a match at all.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/types.h"
#include "text_codec/text_codec.h"

namespace tarnwick {

enum class FoldAsciiCase : bool { No = false, Yes = true };

enum class Resizable : bool { No = false, Yes = true };

// The most bytes any one content replacement may produce.
inline constexpr std::uint64_t kContentOutputLimitBytes = 128ull << 20;

struct TextReplacement {
  std::string text;
  std::uint64_t count = 0;
  // Some match was replaced by different bytes. False when every match
  // already held its replacement (equal texts, or equal but for case when
  // ignoring case): then the text is unchanged although count is not 0.
  bool changed = false;
};

enum class UnmatchedText : bool { Copied, Omitted };

// What a caller of replace_literal_text that handles large texts can spare.
struct ReplacementMemory {
  // A buffer whose memory the new text is built in when there is a match
  // (the string is left empty then), instead of fresh memory.
  std::string* lent = nullptr;
  // Omitted: a text without a match comes back empty (count 0) rather than copied.
  UnmatchedText unmatched = UnmatchedText::Copied;
};

// Leftmost, non-overlapping literal replacement with ASCII-only case folding.
Result<TextReplacement> replace_literal_text(std::string_view text, std::string_view find,
                                             std::string_view replacement, MatchCase match_case,
                                             std::uint64_t output_limit, ReplacementMemory memory = {});

class BytePattern;
// A find text prepared once for many short texts, such as every name of a
// walk, most of which do not hold it: answers whether replace_literal_text
// would find a match, without taking any memory per text.
class LiteralFinder {
 public:
  LiteralFinder(std::string_view find, MatchCase match_case);
  LiteralFinder(LiteralFinder&&) noexcept;
  ~LiteralFinder();
  bool occurs_in(std::string_view text) const;

 private:
  std::unique_ptr<const BytePattern> pattern_;
};

struct BinaryLiterals {
  std::string find;
  std::string replacement;
};

// The find and replacement texts in the chosen encoding, without a byte-order
// mark (UTF-8 for Auto), for matching raw bytes.
Result<BinaryLiterals> encode_binary_literals(std::string_view find, std::string_view replacement,
                                              EncodingChoice encoding);

// bytes is absent when nothing matched (count 0).
struct ByteReplacement {
  std::optional<std::string> bytes;
  std::uint64_t count = 0;
};

// A few matches of a pattern and how many there are in all, for showing the
// first of them: the offsets of the first `first` matches, then of those that
// start within tail_bytes after the end of the last of them (the ones beside
// it in the same excerpt). The offsets are a prefix of all match offsets.
struct MatchSample {
  std::vector<std::size_t> offsets;
  std::uint64_t count = 0;
};
MatchSample sample_literal_matches(std::string_view data, std::string_view pattern, FoldAsciiCase fold,
                                   std::size_t first, std::size_t tail_bytes);

Result<ByteReplacement> replace_literal_bytes(std::string_view data, std::string_view find_pattern,
                                              std::string_view replacement_pattern, FoldAsciiCase fold,
                                              Resizable resizable);

}  // namespace tarnwick
