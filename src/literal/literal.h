// The literal replacers: one leftmost, non-overlapping matcher with ASCII-only
// case folding behind text replacement (names and text contents), raw binary
// replacement and the finder that tells whether a text holds a match at all.
#pragma once

#include <array>
#include <concepts>
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

// Which form of the replacement a match calls for when case is preserved,
// judged on the match's ASCII letters alone (no other character has case here):
// all lower case, all upper case (two letters or more), the first upper case
// and the rest lower case; anything else, or no letter at all, as typed.
enum class CaseForm : std::uint8_t { AsTyped, Lower, Upper, Capitalized };

// Takes a match's ASCII letters in order, each upper case or not, and tells
// the form they call for.
class CaseFormTally {
 public:
  void add_letter(bool upper) {
    if (letters_ == 0) {
      first_upper_ = upper;
    } else {
      later_upper_ = later_upper_ || upper;
      later_lower_ = later_lower_ || !upper;
    }
    ++letters_;
  }
  CaseForm form() const;

 private:
  std::size_t letters_ = 0;
  bool first_upper_ = false, later_upper_ = false, later_lower_ = false;
};

CaseForm case_form_of(std::string_view matched);

// The replacement literal: written as typed at every match, or, when case is
// preserved, in the form each match's own letters call for. The forms are made
// once, when the replacement is; a match only chooses among them. Every form
// has the typed text's length, since only ASCII letters change case.
class Replacement {
 public:
  // As typed at every match: what a plain text stands for.
  template <class Text>
    requires std::convertible_to<const Text&, std::string_view>
  Replacement(const Text& typed) : forms_{std::string(std::string_view(typed))} {}

  // Preserves case only with preserve_case on and match_case off (with match
  // case on every match already has the find text's case), and only when
  // both find and replacement hold an ASCII letter (otherwise every form is
  // the typed text).
  Replacement(std::string_view find, std::string_view typed, MatchCase match_case, PreserveCase preserve_case);

  std::string_view typed() const { return forms_[0]; }
  std::size_t size() const { return forms_[0].size(); }
  bool preserves_case() const { return preserving_; }
  std::string_view form(CaseForm form) const {
    return preserving_ ? std::string_view(forms_[static_cast<std::size_t>(form)]) : typed();
  }
  // matched: the text of one match, as it is in the text being replaced.
  std::string_view for_match(std::string_view matched) const {
    return preserving_ ? std::string_view(forms_[static_cast<std::size_t>(case_form_of(matched))]) : typed();
  }

 private:
  std::array<std::string, 4> forms_;  // indexed by CaseForm
  bool preserving_ = false;
};

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
                                             const Replacement& replacement, MatchCase match_case,
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

// A case-preserving replacement in raw bytes: its forms encoded, and where a
// match shows the case of each ASCII letter of the find text.
struct BinaryCaseForms {
  std::array<std::string, 4> forms;  // indexed by CaseForm, each as wide as the typed replacement
  // One per ASCII letter of the find text, in order: the offset of the one
  // byte of the encoded find that differs between the letter's two cases,
  // and that byte's upper-case value.
  struct LetterByte {
    std::size_t offset;
    char upper;
  };
  std::vector<LetterByte> letters;
};

struct BinaryLiterals {
  std::string find;
  std::string replacement;
  std::optional<BinaryCaseForms> case_forms = std::nullopt;  // when the replacement preserves case

  // The replacement's bytes for one match (find.size() bytes of the data).
  std::string_view replacement_for(std::string_view matched) const {
    return case_forms ? case_form_for(matched) : std::string_view(replacement);
  }

 private:
  std::string_view case_form_for(std::string_view matched) const;
};

// The find and replacement texts in the chosen encoding, without a byte-order
// mark (UTF-8 for Auto), for matching raw bytes; with the replacement's case
// forms too when it preserves case.
Result<BinaryLiterals> encode_binary_literals(std::string_view find, const Replacement& replacement,
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

// Every match of literals.find replaced by literals.replacement_for(the match).
Result<ByteReplacement> replace_literal_bytes(std::string_view data, const BinaryLiterals& literals,
                                              FoldAsciiCase fold, Resizable resizable);

}  // namespace tarnwick
