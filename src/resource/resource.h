// Game resources: the RSC7 container and literal replacement inside it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"
#include "common/types.h"
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
                                       std::string_view replacement, MatchCase match_case,
                                       EncodingChoice encoding, ResourceKind kind);

}  // namespace tarnwick
