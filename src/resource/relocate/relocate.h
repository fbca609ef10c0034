// Name relocation: renames the names of a NameGraph, rewrites or moves them,
// rebuilds texture-dictionary hashes and re-lays out the system segment.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "common/types.h"
#include "resource/fragment/name_graph.h"
#include "resource/rsc7.h"

namespace tarnwick {

inline constexpr std::uint64_t kRenamedNameLimitBytes = 65'536;
inline constexpr std::uint64_t kMinRelocatedSystemBytes = 8192;
inline constexpr std::uint64_t kMaxGraphicsPagesForRelocation = 127;

// The texture name hash: Jenkins one-at-a-time over the ASCII-folded bytes.
std::uint32_t texture_name_hash(std::string_view name);

// Replaces the find literal inside one name; returns the new text and the count.
struct RenamedText {
  std::string text;
  std::uint64_t count = 0;
};
using NameRenamer = std::function<Result<RenamedText>(std::string_view name)>;

// Decides every name's new text (in start order) and checks what renaming
// alone can refuse. Returns the number of changed names.
Result<std::uint64_t> rename_resource_names(NameGraph& graph, const Rsc7Resource& resource,
                                            const NameRenamer& rename);

// The offset of the first match of find (folded when case is ignored) that does
// not lie inside the text of a known name, if any.
std::optional<std::uint64_t> find_match_outside_names(std::string_view decoded, const NameGraph& graph,
                                                      std::string_view find, MatchCase match_case);

// True when find (folded when case is ignored) occurs anywhere in data.
bool contains_literal(std::string_view data, std::string_view find, MatchCase match_case);

struct RelocatedResource {
  std::string decoded;  // new system segment, then the graphics segment unchanged
  std::optional<std::uint32_t> new_system_flags;
  std::uint64_t moved = 0;
  std::uint64_t updated_hashes = 0;
  std::uint64_t replacements = 0;
};

// Consistency checks and writes after renaming. find/match_case drive the
// match-location check, which runs between the alias and hidden-reference checks.
Result<RelocatedResource> relocate_resource_names(const Rsc7Resource& resource, const NameGraph& graph,
                                                  std::string_view find, MatchCase match_case);

}  // namespace tarnwick
