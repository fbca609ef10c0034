// Raw DEFLATE (RFC 1951): the program's own bounded decoder and encoder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

struct Inflated {
  std::string bytes;
  std::uint64_t bits_consumed = 0;  // position after the last bit of the final block
};

// Decodes one raw DEFLATE stream; output_limit bytes at most (inclusive).
Result<Inflated> inflate_raw(std::string_view input, std::uint64_t output_limit);

// Greedy single-block fixed-Huffman encoding, or stored blocks when smaller;
// the result is a pure function of the input.
Result<std::string> deflate_bounded(std::string_view input, std::uint64_t output_limit);

}  // namespace tarnwick
