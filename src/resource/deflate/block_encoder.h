// Gathers the literals and matches of one DEFLATE block and writes the block as
// whichever of the dynamic-Huffman, fixed-Huffman and stored forms is smallest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "resource/deflate/bit_writer.h"

namespace tarnwick {

class BlockEncoder {
 public:
  // Symbols per block: large enough that a code table's cost is spread thin,
  // small enough that the codes follow the data as it changes.
  static constexpr std::size_t kMaxSymbols = 1 << 14;

  // input is the whole input (stored blocks copy from it); symbols is storage
  // for kMaxSymbols entries, owned by the caller so that it is reserved with
  // the rest of the encoder's memory.
  BlockEncoder(const std::uint8_t* input, std::uint32_t* symbols, BitWriter& writer)
      : input_(input), symbols_(symbols), writer_(writer) {}

  void literal(std::uint8_t byte) {
    symbols_[count_++] = byte;
    ++literal_frequency_[byte];
    ++covered_;
  }

  // length 3..258, distance 1..32,768.
  void match(unsigned length, unsigned distance);

  bool full() const { return count_ == kMaxSymbols; }

  // Writes the gathered symbols as one block (or, stored, as several of at
  // most 65,535 bytes), then the final block ends the stream on a byte boundary.
  void flush(bool final_block);

 private:
  struct Codes;
  static const Codes& fixed_codes();
  std::uint64_t dynamic_header_bits(Codes& codes) const;
  void write_dynamic_header(const Codes& codes, bool final_block);
  void write_symbols(const Codes& codes);
  void write_stored(bool final_block);
  void reset();

  const std::uint8_t* input_;
  std::uint32_t* symbols_;  // a literal byte, or distance << 9 | length
  BitWriter& writer_;
  std::size_t count_ = 0;
  std::size_t block_start_ = 0;  // input offset of the block's first byte
  std::size_t covered_ = 0;      // input bytes the gathered symbols stand for
  std::array<std::uint32_t, 286> literal_frequency_{};
  std::array<std::uint32_t, 30> distance_frequency_{};
};

}  // namespace tarnwick
