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
};

inline constexpr std::uint64_t kTextModeInputLimitBytes = 16ull << 20;
inline constexpr std::uint64_t kBinaryModeInputLimitBytes = 64ull << 20;

// The input limit for a mode: 16 MiB for Text only, 64 MiB otherwise.
std::uint64_t content_input_limit(ContentMode mode);

Result<ContentEdit> plan_content_edit(std::string_view path, std::string_view bytes, std::string_view find,
                                      std::string_view replacement, MatchCase match_case,
                                      const ContentOptions& options);

// Buffers that one preview lends to the plan of every file in turn: the texts
// made on the way (decoded from the file's encoding, replaced before being
// encoded back), which no plan keeps. Memory touched before fills faster than
// fresh memory, whose every page faults on its first write.
struct ContentScratch {
  std::string decoded;
  std::string replaced;
};

// The same, with the preview's scratch buffers.
Result<ContentEdit> plan_content_edit(std::string_view path, std::string_view bytes, std::string_view find,
                                      std::string_view replacement, MatchCase match_case,
                                      const ContentOptions& options, ContentScratch& scratch);

}  // namespace tarnwick
