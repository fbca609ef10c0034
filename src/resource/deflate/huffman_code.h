// Length-limited canonical Huffman codes for the encoder's dynamic blocks.
#pragma once

#include <cstdint>
#include <span>

namespace tarnwick::deflate_codes {

// The longest alphabet a code is built for (the literal/length alphabet).
inline constexpr std::size_t kMaxSymbols = 288;

// Code lengths of at most max_length bits for the symbol frequencies, with the
// least total weighted length a complete code of that bound allows. Unused
// symbols get length 0. With fewer than two used symbols, two symbols get
// one-bit codes, so that every code written is complete (some decoders refuse
// a lone one-bit code).
void build_code_lengths(std::span<const std::uint32_t> frequencies, unsigned max_length,
                        std::span<std::uint8_t> lengths);

// The canonical codes of the lengths, bit-reversed so they can be written
// least significant bit first.
void canonical_codes(std::span<const std::uint8_t> lengths, std::span<std::uint16_t> codes);

}  // namespace tarnwick::deflate_codes
