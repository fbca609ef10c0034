// One DEFLATE block at a time: exact bit costs of the three block forms, the
// dynamic block's code tables, and the writing of the chosen form.
#include "resource/deflate/block_encoder.h"

#include <algorithm>

#include "resource/deflate/code_tables.h"
#include "resource/deflate/huffman_code.h"

namespace tarnwick {
namespace {

using deflate_tables::kDistanceBase;
using deflate_tables::kDistanceExtra;
using deflate_tables::kLengthBase;
using deflate_tables::kLengthExtra;

constexpr std::size_t kLiteralSymbols = 286;  // 286 and 287 are never written
constexpr std::size_t kDistanceSymbols = 30;
constexpr std::size_t kLengthCodeSymbols = 19;
constexpr unsigned kEndOfBlock = 256;
constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kMaxLengthCodeBits = 7;
constexpr std::size_t kStoredBlockBytes = 65535;
constexpr unsigned kLengthBits = 9;  // a match symbol keeps its length below bit 9
// The order in which the code-length code's lengths are sent.
constexpr std::array<std::uint8_t, kLengthCodeSymbols> kLengthCodeOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};
// Extra bits of the code-length symbols 16 (repeat the previous length 3-6
// times), 17 (3-10 zeros) and 18 (11-138 zeros).
constexpr unsigned kRepeatExtraBits[3] = {2, 3, 7};

// Per match length 3..258: the index of its length code.
constexpr auto kLengthIndex = [] {
  std::array<std::uint8_t, 259> index{};
  for (unsigned length = 3; length <= 258; ++length) {
    unsigned code = 0;
    while (code + 1 < kLengthBase.size() && kLengthBase[code + 1] <= length) ++code;
    index[length] = static_cast<std::uint8_t>(code);
  }
  return index;
}();

// Distance code index for distance - 1 below 256, and for (distance - 1) >> 7 above.
constexpr auto kDistanceIndexNear = [] {
  std::array<std::uint8_t, 256> index{};
  for (unsigned distance = 1; distance <= 256; ++distance) {
    unsigned code = 0;
    while (code + 1 < kDistanceBase.size() && kDistanceBase[code + 1] <= distance) ++code;
    index[distance - 1] = static_cast<std::uint8_t>(code);
  }
  return index;
}();
constexpr auto kDistanceIndexFar = [] {
  std::array<std::uint8_t, 256> index{};
  for (unsigned high = 2; high < 256; ++high) {
    const unsigned distance = (high << 7) + 1;  // every distance with these high bits shares the code
    unsigned code = 0;
    while (code + 1 < kDistanceBase.size() && kDistanceBase[code + 1] <= distance) ++code;
    index[high] = static_cast<std::uint8_t>(code);
  }
  return index;
}();

inline unsigned distance_index(unsigned distance) {
  return distance <= 256 ? kDistanceIndexNear[distance - 1] : kDistanceIndexFar[(distance - 1) >> 7];
}

}  // namespace

struct BlockEncoder::Codes {
  std::array<std::uint8_t, kLiteralSymbols> literal_lengths{};
  std::array<std::uint16_t, kLiteralSymbols> literal_codes{};
  std::array<std::uint8_t, kDistanceSymbols> distance_lengths{};
  std::array<std::uint16_t, kDistanceSymbols> distance_codes{};
  // Dynamic blocks only: the code lengths, run-length coded, and their code.
  std::array<std::uint16_t, kLiteralSymbols + kDistanceSymbols> runs{};  // symbol | extra value << 5
  std::size_t run_count = 0;
  std::array<std::uint8_t, kLengthCodeSymbols> length_lengths{};
  std::array<std::uint16_t, kLengthCodeSymbols> length_codes{};
  unsigned literal_count = 0;   // HLIT + 257
  unsigned distance_count = 0;  // HDIST + 1
  unsigned length_count = 0;    // HCLEN + 4
};

void BlockEncoder::match(unsigned length, unsigned distance) {
  symbols_[count_++] = static_cast<std::uint32_t>(distance) << kLengthBits | length;
  ++literal_frequency_[kEndOfBlock + 1 + kLengthIndex[length]];
  ++distance_frequency_[distance_index(distance)];
  covered_ += length;
}

// Fills the code-length part of codes (from its literal and distance lengths)
// and returns the bits the dynamic header takes after the three block-type bits.
std::uint64_t BlockEncoder::dynamic_header_bits(Codes& codes) const {
  codes.literal_count = static_cast<unsigned>(kLiteralSymbols);
  while (codes.literal_count > 257 && codes.literal_lengths[codes.literal_count - 1] == 0) --codes.literal_count;
  codes.distance_count = static_cast<unsigned>(kDistanceSymbols);
  while (codes.distance_count > 1 && codes.distance_lengths[codes.distance_count - 1] == 0) --codes.distance_count;

  // One sequence of lengths: a run may cross from the literal into the distance part.
  std::array<std::uint8_t, kLiteralSymbols + kDistanceSymbols> lengths{};
  std::copy_n(codes.literal_lengths.begin(), codes.literal_count, lengths.begin());
  std::copy_n(codes.distance_lengths.begin(), codes.distance_count, lengths.begin() + codes.literal_count);
  const std::size_t total = codes.literal_count + codes.distance_count;
  std::array<std::uint32_t, kLengthCodeSymbols> frequency{};
  codes.run_count = 0;
  const auto emit = [&](unsigned symbol, unsigned extra) {
    codes.runs[codes.run_count++] = static_cast<std::uint16_t>(symbol | extra << 5);
    ++frequency[symbol];
  };
  for (std::size_t i = 0; i < total;) {
    const std::uint8_t value = lengths[i];
    std::size_t run = 1;
    while (i + run < total && lengths[i + run] == value) ++run;
    i += run;
    if (value == 0) {
      for (std::size_t zeros; run >= 11; run -= zeros) {
        zeros = std::min<std::size_t>(run, 138);
        emit(18, static_cast<unsigned>(zeros - 11));
      }
      if (run >= 3) {
        emit(17, static_cast<unsigned>(run - 3));
        run = 0;
      }
    } else {
      emit(value, 0);
      --run;
      for (std::size_t repeats; run >= 3; run -= repeats) {
        repeats = std::min<std::size_t>(run, 6);
        emit(16, static_cast<unsigned>(repeats - 3));
      }
    }
    for (; run > 0; --run) emit(value, 0);
  }
  deflate_codes::build_code_lengths(frequency, kMaxLengthCodeBits, codes.length_lengths);
  deflate_codes::canonical_codes(codes.length_lengths, codes.length_codes);
  codes.length_count = static_cast<unsigned>(kLengthCodeSymbols);
  while (codes.length_count > 4 && codes.length_lengths[kLengthCodeOrder[codes.length_count - 1]] == 0)
    --codes.length_count;

  std::uint64_t bits = 5 + 5 + 4 + 3 * codes.length_count;
  for (std::size_t symbol = 0; symbol < kLengthCodeSymbols; ++symbol) {
    const unsigned extra = symbol >= 16 ? kRepeatExtraBits[symbol - 16] : 0;
    bits += std::uint64_t{frequency[symbol]} * (codes.length_lengths[symbol] + extra);
  }
  return bits;
}

void BlockEncoder::flush(bool final_block) {
  literal_frequency_[kEndOfBlock] = 1;
  std::uint64_t extra_bits = 0;
  for (std::size_t i = 0; i < kLengthExtra.size(); ++i)
    extra_bits += std::uint64_t{literal_frequency_[kEndOfBlock + 1 + i]} * kLengthExtra[i];
  for (std::size_t i = 0; i < kDistanceSymbols; ++i)
    extra_bits += std::uint64_t{distance_frequency_[i]} * kDistanceExtra[i];

  const Codes& fixed = fixed_codes();
  Codes dynamic;
  deflate_codes::build_code_lengths(literal_frequency_, kMaxCodeBits, dynamic.literal_lengths);
  deflate_codes::build_code_lengths(distance_frequency_, kMaxCodeBits, dynamic.distance_lengths);
  std::uint64_t fixed_bits = 3 + extra_bits;
  std::uint64_t dynamic_bits = 3 + extra_bits + dynamic_header_bits(dynamic);
  for (std::size_t symbol = 0; symbol < kLiteralSymbols; ++symbol) {
    fixed_bits += std::uint64_t{literal_frequency_[symbol]} * fixed.literal_lengths[symbol];
    dynamic_bits += std::uint64_t{literal_frequency_[symbol]} * dynamic.literal_lengths[symbol];
  }
  for (std::size_t symbol = 0; symbol < kDistanceSymbols; ++symbol) {
    fixed_bits += std::uint64_t{distance_frequency_[symbol]} * fixed.distance_lengths[symbol];
    dynamic_bits += std::uint64_t{distance_frequency_[symbol]} * dynamic.distance_lengths[symbol];
  }
  // Stored: the block header, padding to a byte boundary, LEN and NLEN, the
  // bytes; each further stored block of a long stretch costs a byte and LEN/NLEN.
  const std::uint64_t stored_blocks =
      std::max<std::uint64_t>(1, (covered_ + kStoredBlockBytes - 1) / kStoredBlockBytes);
  const std::uint64_t first_padding = (8 - (writer_.bit_position() + 3) % 8) % 8;
  const std::uint64_t stored_bits = 3 + first_padding + 32 + 8 * std::uint64_t{covered_} + (stored_blocks - 1) * 40;

  if (stored_bits <= std::min(fixed_bits, dynamic_bits)) {
    write_stored(final_block);
  } else if (fixed_bits <= dynamic_bits) {
    writer_.put(final_block ? 0b011 : 0b010, 3);
    write_symbols(fixed);
  } else {
    deflate_codes::canonical_codes(dynamic.literal_lengths, dynamic.literal_codes);
    deflate_codes::canonical_codes(dynamic.distance_lengths, dynamic.distance_codes);
    write_dynamic_header(dynamic, final_block);
    write_symbols(dynamic);
  }
  if (final_block) writer_.align();
  reset();
}

void BlockEncoder::write_dynamic_header(const Codes& codes, bool final_block) {
  writer_.put(final_block ? 0b101 : 0b100, 3);
  writer_.put(codes.literal_count - 257, 5);
  writer_.put(codes.distance_count - 1, 5);
  writer_.put(codes.length_count - 4, 4);
  for (unsigned i = 0; i < codes.length_count; ++i) writer_.put(codes.length_lengths[kLengthCodeOrder[i]], 3);
  for (std::size_t i = 0; i < codes.run_count; ++i) {
    const unsigned symbol = codes.runs[i] & 31;
    writer_.put(codes.length_codes[symbol], codes.length_lengths[symbol]);
    if (symbol >= 16) writer_.put(codes.runs[i] >> 5, kRepeatExtraBits[symbol - 16]);
  }
}

void BlockEncoder::write_symbols(const Codes& codes) {
  for (std::size_t i = 0; i < count_; ++i) {
    const std::uint32_t symbol = symbols_[i];
    const unsigned distance = symbol >> kLengthBits;
    if (distance == 0) {
      writer_.put(codes.literal_codes[symbol], codes.literal_lengths[symbol]);
      continue;
    }
    const unsigned length = symbol & ((1u << kLengthBits) - 1);
    const unsigned length_index = kLengthIndex[length];
    const unsigned length_symbol = kEndOfBlock + 1 + length_index;
    writer_.put(codes.literal_codes[length_symbol] |
                    std::uint64_t{length - kLengthBase[length_index]} << codes.literal_lengths[length_symbol],
                codes.literal_lengths[length_symbol] + kLengthExtra[length_index]);
    const unsigned distance_symbol = distance_index(distance);
    writer_.put(codes.distance_codes[distance_symbol] |
                    std::uint64_t{distance - kDistanceBase[distance_symbol]} << codes.distance_lengths[distance_symbol],
                codes.distance_lengths[distance_symbol] + kDistanceExtra[distance_symbol]);
  }
  writer_.put(codes.literal_codes[kEndOfBlock], codes.literal_lengths[kEndOfBlock]);
}

void BlockEncoder::write_stored(bool final_block) {
  std::size_t offset = block_start_;
  const std::size_t end = block_start_ + covered_;
  do {
    const std::size_t length = std::min(end - offset, kStoredBlockBytes);
    const bool last = offset + length == end;
    writer_.put(final_block && last ? 1 : 0, 3);
    writer_.align();
    writer_.put(length | (~length & 0xFFFF) << 16, 32);
    writer_.put_bytes(input_ + offset, length);
    offset += length;
  } while (offset < end);
}

void BlockEncoder::reset() {
  block_start_ += covered_;
  covered_ = 0;
  count_ = 0;
  literal_frequency_.fill(0);
  distance_frequency_.fill(0);
}

const BlockEncoder::Codes& BlockEncoder::fixed_codes() {
  static const Codes codes = [] {
    Codes fixed;
    // RFC 1951 3.2.6: the fixed codes are the canonical codes of these lengths
    // over all 288 literal/length and 32 distance symbols, the unused ones included.
    std::array<std::uint8_t, 288> literal_lengths{};
    std::array<std::uint16_t, 288> literal_codes{};
    for (std::size_t symbol = 0; symbol < literal_lengths.size(); ++symbol)
      literal_lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
    deflate_codes::canonical_codes(literal_lengths, literal_codes);
    std::copy_n(literal_lengths.begin(), kLiteralSymbols, fixed.literal_lengths.begin());
    std::copy_n(literal_codes.begin(), kLiteralSymbols, fixed.literal_codes.begin());
    fixed.distance_lengths.fill(5);
    deflate_codes::canonical_codes(fixed.distance_lengths, fixed.distance_codes);
    return fixed;
  }();
  return codes;
}

}  // namespace tarnwick
