// Slow, obviously correct raw DEFLATE codec written straight from the rules: a bit-serial
// decoder and a byte-at-a-time encoder, against which the real ones are compared.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick::testing {

struct ReferenceResult {
  bool ok = false;
  std::string bytes;  // the decoded or encoded bytes when ok
  std::uint64_t bits = 0;  // bits consumed (decoder)
  std::string message;     // the refusal when not ok
};

ReferenceResult reference_inflate(std::string_view input, std::uint64_t limit);
ReferenceResult reference_deflate(std::string_view input, std::uint64_t limit);

}  // namespace tarnwick::testing
