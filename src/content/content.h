// Content editing: classification of one file's data, text and raw binary
// replacement, and the one literal replacer shared with names.
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

// The request's 8-bit content-mode codes. Content editing switched off is the
// request's edit-contents flag, never a mode.
enum class ContentMode : std::uint8_t { TextOnly = 0, BinaryOnly = 1, TextAndBinary = 2 };

enum class Resizable : bool { No = false, Yes = true };

struct ContentOptions {
  EncodingChoice encoding;
  Resizable resizable = Resizable::No;
  ContentMode mode = ContentMode::TextOnly;
};

// An edit (new bytes, summary, count), a skip (exactly one notice) or no change.
struct ContentEdit {
  std::vector<Notice> notices;
  std::optional<std::string> new_bytes;
  std::optional<std::string> summary;
  std::uint64_t match_count = 0;
  bool binary = false;  // a raw binary or game-resource edit with new bytes
};

inline constexpr std::uint64_t kTextModeInputLimitBytes = 16ull << 20;
inline constexpr std::uint64_t kBinaryModeInputLimitBytes = 64ull << 20;
inline constexpr std::uint64_t kContentOutputLimitBytes = 128ull << 20;

// The input limit for a mode: 16 MiB for Text only, 64 MiB otherwise.
std::uint64_t content_input_limit(ContentMode mode);

Result<ContentEdit> plan_content_edit(std::string_view path, std::string_view bytes, std::string_view find,
                                      std::string_view replacement, MatchCase match_case,
                                      const ContentOptions& options);

struct TextReplacement {
  std::string text;
  std::uint64_t count = 0;
};

// Leftmost, non-overlapping literal replacement with ASCII-only case folding.
Result<TextReplacement> replace_literal_text(std::string_view text, std::string_view find,
                                             std::string_view replacement, MatchCase match_case,
                                             std::uint64_t output_limit);

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

Result<BinaryLiterals> encode_binary_literals(std::string_view find, std::string_view replacement,
                                              EncodingChoice encoding);

enum class FoldAsciiCase : bool { No = false, Yes = true };

// bytes is absent when nothing matched (count 0).
struct ByteReplacement {
  std::optional<std::string> bytes;
  std::uint64_t count = 0;
};

Result<ByteReplacement> replace_literal_bytes(std::string_view data, std::string_view find_pattern,
                                              std::string_view replacement_pattern, FoldAsciiCase fold,
                                              Resizable resizable);

}  // namespace tarnwick
