// Hand-built raw DEFLATE streams for tests: a bit writer and canonical-code helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

// Packs bits least significant first, as raw DEFLATE does.
class StreamWriter {
 public:
  // A field of `count` bits, first bit = bit 0 of value.
  StreamWriter& bits(std::uint32_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) put_bit((value >> i) & 1u);
    return *this;
  }
  // A Huffman code, sent most significant bit first.
  StreamWriter& code(std::uint32_t value, unsigned length) {
    for (unsigned i = length; i > 0; --i) put_bit((value >> (i - 1)) & 1u);
    return *this;
  }
  StreamWriter& align() {
    while (bit_count_ % 8 != 0) put_bit(0);
    return *this;
  }
  StreamWriter& raw(const std::string& bytes) {
    align();
    for (const char c : bytes) bits(static_cast<std::uint8_t>(c), 8);
    return *this;
  }
  std::uint64_t bit_count() const { return bit_count_; }
  std::string bytes() const { return bytes_; }

 private:
  void put_bit(std::uint32_t bit) {
    if (bit_count_ % 8 == 0) bytes_.push_back('\0');
    if (bit != 0) bytes_.back() = static_cast<char>(bytes_.back() | (1 << (bit_count_ % 8)));
    ++bit_count_;
  }
  std::string bytes_;
  std::uint64_t bit_count_ = 0;
};

struct HuffmanCode {
  std::uint32_t value = 0;
  unsigned length = 0;
};

// Canonical codes of RFC 1951 section 3.2.2 for the given lengths.
inline std::vector<HuffmanCode> canonical_codes(const std::vector<std::uint8_t>& lengths) {
  std::vector<unsigned> per_length(16, 0);
  for (const auto length : lengths) ++per_length[length];
  per_length[0] = 0;
  std::vector<std::uint32_t> next(16, 0);
  std::uint32_t code = 0;
  for (unsigned length = 1; length < 16; ++length) {
    code = (code + per_length[length - 1]) << 1;
    next[length] = code;
  }
  std::vector<HuffmanCode> codes(lengths.size());
  for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
    if (lengths[symbol] != 0) codes[symbol] = {next[lengths[symbol]]++, lengths[symbol]};
  }
  return codes;
}

// The fixed literal/length code of RFC 1951 section 3.2.6.
inline HuffmanCode fixed_literal_code(unsigned symbol) {
  if (symbol < 144) return {0x30 + symbol, 8};
  if (symbol < 256) return {0x190 + symbol - 144, 9};
  if (symbol < 280) return {symbol - 256, 7};
  return {0xC0 + symbol - 280, 8};
}

inline StreamWriter& put(StreamWriter& writer, HuffmanCode code) { return writer.code(code.value, code.length); }

// The order in which code-length code lengths are sent.
inline constexpr unsigned kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// One symbol of the code-length sequence with its extra bits.
struct LengthToken {
  unsigned symbol;
  std::uint32_t extra = 0;
};

// A dynamic block header: final bit, type 2, HLIT, HDIST, all 19 code-length code
// lengths (given in symbol order), then the tokens. Returns the code-length code.
inline std::vector<HuffmanCode> dynamic_header(StreamWriter& writer, bool final_block, unsigned hlit, unsigned hdist,
                                               const std::vector<std::uint8_t>& code_length_lengths,
                                               const std::vector<LengthToken>& tokens) {
  writer.bits(final_block ? 1 : 0, 1).bits(2, 2).bits(hlit, 5).bits(hdist, 5).bits(15, 4);
  for (const unsigned symbol : kCodeLengthOrder) writer.bits(code_length_lengths[symbol], 3);
  const auto codes = canonical_codes(code_length_lengths);
  for (const auto& token : tokens) {
    put(writer, codes[token.symbol]);
    if (token.symbol == 16) writer.bits(token.extra, 2);
    if (token.symbol == 17) writer.bits(token.extra, 3);
    if (token.symbol == 18) writer.bits(token.extra, 7);
  }
  return codes;
}

// A complete code-length code: symbols 0-12 get 4 bits, 13-18 get 5 bits.
inline std::vector<std::uint8_t> complete_code_length_lengths() {
  std::vector<std::uint8_t> lengths(19, 4);
  for (unsigned symbol = 13; symbol < 19; ++symbol) lengths[symbol] = 5;
  return lengths;
}

// A dynamic block header that sends every literal/length and distance length literally.
// Returns the literal/length codes followed by the distance codes.
inline std::pair<std::vector<HuffmanCode>, std::vector<HuffmanCode>> dynamic_block(
    StreamWriter& writer, bool final_block, const std::vector<std::uint8_t>& literal_lengths,
    const std::vector<std::uint8_t>& distance_lengths) {
  std::vector<LengthToken> tokens;
  for (const auto length : literal_lengths) tokens.push_back({length});
  for (const auto length : distance_lengths) tokens.push_back({length});
  dynamic_header(writer, final_block, static_cast<unsigned>(literal_lengths.size() - 257),
                 static_cast<unsigned>(distance_lengths.size() - 1), complete_code_length_lengths(), tokens);
  return {canonical_codes(literal_lengths), canonical_codes(distance_lengths)};
}

}  // namespace tarnwick::testing
