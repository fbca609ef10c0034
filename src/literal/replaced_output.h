// One scan finds and counts the matches of a replacement and keeps their
// offsets; the output is then built from them in one more pass over memory,
// without scanning again. Shared by text and raw binary replacement.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/types.h"
#include "literal/byte_search.h"

namespace tarnwick {

// At most this many offsets are kept (8 MiB of them); matches beyond are
// found again while the output is built, by scanning on from the last kept one.
inline constexpr std::size_t kMaxKeptMatches = std::size_t{1} << 20;

struct ScannedMatches {
  std::uint64_t count = 0;
  std::vector<std::size_t> kept;  // offsets of the first matches, in order
};

ScannedMatches scan_matches(const BytePattern& pattern, std::string_view data,
                            std::size_t max_kept = kMaxKeptMatches);

// Writes data into out (sized exactly for the result) with every match
// replaced by replacement_for(offset of the match): the bytes between matches
// are copied as they are. Returns whether any match's bytes differ from what
// replaced them.
template <class ReplacementFor>
bool write_replaced(const BytePattern& pattern, std::string_view data, const ScannedMatches& matches, char* out,
                    ReplacementFor replacement_for) {
  std::size_t copied_up_to = 0;
  bool changed = false;
  const auto replace_at = [&](std::size_t at) {
    const std::size_t gap = at - copied_up_to;
    if (gap > 0) std::memcpy(out, data.data() + copied_up_to, gap);
    out += gap;
    const std::string_view replacement = replacement_for(at);
    changed = changed || replacement.size() != pattern.size() ||
              std::memcmp(data.data() + at, replacement.data(), replacement.size()) != 0;
    if (!replacement.empty()) std::memcpy(out, replacement.data(), replacement.size());
    out += replacement.size();
    copied_up_to = at + pattern.size();
  };
  for (const std::size_t at : matches.kept) replace_at(at);
  if (matches.count > matches.kept.size()) {
    // A match leaves the automaton in its start state, so scanning the rest
    // from the end of the last kept match finds exactly the remaining ones.
    const std::size_t resume = copied_up_to;
    pattern.scan(data.substr(resume), [&](std::size_t at) { replace_at(resume + at); });
  }
  const std::size_t rest = data.size() - copied_up_to;
  if (rest > 0) std::memcpy(out, data.data() + copied_up_to, rest);
  return changed;
}

}  // namespace tarnwick
