// Content editing: classification of one file's data and the plan of its
// text, raw binary or game-resource edit.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/types.h"
#include "literal/literal.h"
#include "text_codec/text_codec.h"

namespace tarnwick {

// The request's 8-bit content-mode codes. Content editing switched off is the
// request's edit-contents flag, never a mode.
enum class ContentMode : std::uint8_t { TextOnly = 0, BinaryOnly = 1, TextAndBinary = 2 };

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
  bool game_resource = false;  // of those, a game-resource edit
};

inline constexpr std::uint64_t kTextModeInputLimitBytes = 16ull << 20;
inline constexpr std::uint64_t kBinaryModeInputLimitBytes = 64ull << 20;

// The input limit for a mode: 16 MiB for Text only, 64 MiB otherwise.
std::uint64_t content_input_limit(ContentMode mode);

Result<ContentEdit> plan_content_edit(std::string_view path, std::string_view bytes, std::string_view find,
                                      const Replacement& replacement, MatchCase match_case,
                                      const ContentOptions& options);

// Buffers that one preview lends to the plan of every file in turn: the texts
// made on the way (decoded from the file's encoding, replaced before being
// encoded back), which no plan keeps. Memory touched before fills faster than
// fresh memory, whose every page faults on its first write.
struct ContentScratch {
  std::string decoded;
  std::string replaced;
  // The literals as raw binary matches them, with what they were encoded
  // from: every file of one preview has the same, so they are encoded (with
  // the case forms of the replacement) once, not for each file.
  struct EncodedLiterals {
    std::string find;
    std::string typed_replacement;
    bool preserving = false;
    EncodingChoice encoding;
    BinaryLiterals literals;
  };
  std::optional<EncodedLiterals> binary_literals;
};

// The same, with the preview's scratch buffers.
Result<ContentEdit> plan_content_edit(std::string_view path, std::string_view bytes, std::string_view find,
                                      const Replacement& replacement, MatchCase match_case,
                                      const ContentOptions& options, ContentScratch& scratch);

// ---- excerpts: what one planned edit changes, for the review ----------------

// The first matches of a file are shown, up to this many (and the names a
// resource renames, up to kExcerptNames); a text excerpt is about this wide.
inline constexpr std::size_t kExcerptMatches = 3;
inline constexpr std::size_t kExcerptNames = 10;
inline constexpr std::size_t kExcerptColumns = 100;

enum class ExcerptMark : std::uint8_t { Find, Replacement };

// A marked stretch of an excerpt line: bytes [begin, end) of its text.
struct ExcerptSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
  ExcerptMark mark = ExcerptMark::Find;
  bool operator==(const ExcerptSpan&) const = default;
};

// One line of excerpts, without its line feed; the marks say where the found
// text and its replacement lie, so the text itself stays plain.
struct ExcerptLine {
  std::string text;
  std::vector<ExcerptSpan> marks;
};

// How the preview planned the content: as decoded text, or as raw bytes or a
// game resource (the plan's binary flag).
enum class EditedAs : std::uint8_t { Text, BinaryOrResource };

// The excerpt lines of one planned content edit, computed again from the
// file's original and planned bytes and the request's literals and options:
// the first matching lines of a text with their line numbers, the first
// offsets of a raw binary or fixed-width resource edit in hexadecimal, or the
// names a format-aware resource edit renames. Each excerpt ends in
// "… and {n} more ..." when there are more.
Result<std::vector<ExcerptLine>> compose_content_excerpts(std::string_view path, std::string_view original,
                                                          std::string_view edited, EditedAs edited_as,
                                                          std::string_view find, const Replacement& replacement,
                                                          MatchCase match_case, const ContentOptions& options);

}  // namespace tarnwick
