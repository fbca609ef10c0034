// Game resources: the RSC7 container and literal replacement inside it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"
#include "common/types.h"
#include "literal/literal.h"
#include "text_codec/text_codec.h"

namespace tarnwick {

enum class ResourceKind : std::uint8_t { None, Yft, Ytd, Ydr };

// From the file name's extension, ASCII case-insensitively; None otherwise.
ResourceKind resource_kind_for_path(std::string_view path);

struct Rsc7NoChange {};

struct Rsc7Edit {
  std::string bytes;  // the complete new file
  std::vector<Notice> notices;
  std::string summary;
  std::uint64_t replacements = 0;
};

using Rsc7Outcome = std::variant<Rsc7NoChange, Rsc7Edit>;

Result<Rsc7Outcome> edit_rsc7_resource(std::string_view file, std::string_view find,
                                       const Replacement& replacement, MatchCase match_case,
                                       EncodingChoice encoding, ResourceKind kind);

// One name a format-aware edit changes: the kind of field ("texture name",
// "bone name", ...), its text before and after.
struct RenamedResourceName {
  std::string_view role;
  std::string old_text;
  std::string new_text;
};

// The names the format-aware edit of a YFT, YTD or YDR file renames, in the
// order they lie in the resource; empty when the find text occurs nowhere.
// Refuses as edit_rsc7_resource does on what it needs to tell them apart.
Result<std::vector<RenamedResourceName>> list_renamed_resource_names(std::string_view file, std::string_view find,
                                                                     const Replacement& replacement,
                                                                     MatchCase match_case, EncodingChoice encoding,
                                                                     ResourceKind kind);

// The decoded pages of an RSC7 file: its system segment, then its graphics segment.
Result<std::string> decode_rsc7_pages(std::string_view file);

}  // namespace tarnwick
