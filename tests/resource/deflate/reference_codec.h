// Slow, obviously correct raw DEFLATE decoder written straight from the rules, bit by
// bit, against which the real one is compared; it also tells what a stream is made of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick::testing {

struct ReferenceResult {
  bool ok = false;
  std::string bytes;       // the decoded bytes when ok
  std::uint64_t bits = 0;  // bits consumed
  std::string message;     // the refusal when not ok
  std::vector<unsigned> block_types;  // 0 stored, 1 fixed, 2 dynamic, in stream order
  std::vector<std::pair<unsigned, unsigned>> matches;  // (length, distance) of every copy
};

ReferenceResult reference_inflate(std::string_view input, std::uint64_t limit);

}  // namespace tarnwick::testing
