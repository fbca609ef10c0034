// Raw DEFLATE (RFC 1951): the program's own bounded decoder and encoder.
#pragma once

#include <cstdint>
#include <expected>
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

// Why a decode stopped: the stream is not valid DEFLATE, or it was still
// decoding when it reached the output limit or found no memory for its output.
enum class InflateFault : std::uint8_t { InvalidStream, OutputLimit, NoMemory };

struct InflateFailure {
  InflateFault fault;
  std::string message;  // the text inflate_raw fails with
};

// inflate_raw, with the kind of fault beside its message.
std::expected<Inflated, InflateFailure> inflate_raw_with_fault(std::string_view input, std::uint64_t output_limit);

// Lazy LZ77 with dynamic-Huffman, fixed-Huffman or stored blocks, whichever is
// smallest per block; stored blocks throughout when that would not be larger;
// the result is a pure function of the input.
Result<std::string> deflate_bounded(std::string_view input, std::uint64_t output_limit);

}  // namespace tarnwick
