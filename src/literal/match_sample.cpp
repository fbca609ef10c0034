// The first few matches of a pattern with their total, for excerpts of a planned edit.
#include "literal/byte_search.h"
#include "literal/literal.h"

namespace tarnwick {

MatchSample sample_literal_matches(std::string_view data, std::string_view pattern, FoldAsciiCase fold,
                                   std::size_t first, std::size_t tail_bytes) {
  MatchSample sample;
  if (pattern.empty() || data.size() < pattern.size()) return sample;
  const BytePattern matcher(pattern, fold);
  // Set once the first matches are kept: later matches starting before it are kept too.
  std::size_t keep_before = 0;
  sample.count = matcher.scan(data, [&](std::size_t at) {
    if (sample.offsets.size() < first) {
      sample.offsets.push_back(at);
      if (sample.offsets.size() == first) keep_before = at + pattern.size() + tail_bytes;
    } else if (at < keep_before) {
      sample.offsets.push_back(at);
    }
  });
  return sample;
}

}  // namespace tarnwick
