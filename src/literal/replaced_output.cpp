// The counting scan that keeps the offsets of the first matches.
#include "literal/replaced_output.h"

#include <algorithm>

namespace tarnwick {

ScannedMatches scan_matches(const BytePattern& pattern, std::string_view data, std::size_t max_kept) {
  ScannedMatches matches;
  bool keeping = max_kept > 0;
  matches.count = pattern.scan(data, [&](std::size_t at) {
    if (!keeping) return;
    if (matches.kept.size() == matches.kept.capacity()) {
      // Memory for offsets is only a shortcut: without it the build scans again.
      const std::size_t grown = std::min(max_kept, std::max<std::size_t>(64, 2 * matches.kept.capacity()));
      keeping = matches.kept.size() < grown && try_reserve(matches.kept, grown);
      if (!keeping) return;
    }
    matches.kept.push_back(at);
  });
  return matches;
}

}  // namespace tarnwick
