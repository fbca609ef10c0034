// Slow, obviously correct raw DEFLATE decoder written straight from the rules (see the header).
#include "resource/deflate/reference_codec.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/result.h"

namespace tarnwick::testing {
namespace {

class Bits {
 public:
  explicit Bits(std::string_view input) : input_(input) {}
  Result<std::uint32_t> read(unsigned count) {
    if (position_ + count > input_.size() * 8) return fail("Truncated DEFLATE stream.");
    std::uint32_t value = 0;
    for (unsigned i = 0; i < count; ++i, ++position_) {
      value |= ((static_cast<std::uint8_t>(input_[position_ / 8]) >> (position_ % 8)) & 1u) << i;
    }
    return value;
  }
  std::uint64_t position() const { return position_; }
  void skip_bytes(std::uint64_t count) { position_ += count * 8; }
  std::string_view input() const { return input_; }

 private:
  std::string_view input_;
  std::uint64_t position_ = 0;
};

enum class Kind { CodeLength, LiteralLength, Distance };

struct Huffman {
  std::array<unsigned, 16> count{};
  std::vector<unsigned> symbols;
  unsigned max_length = 0;
};

Result<Huffman> build(const std::vector<unsigned>& lengths, Kind kind) {
  if (lengths.size() > 288) return fail("DEFLATE Huffman alphabet is too large.");
  Huffman table;
  for (const unsigned length : lengths) {
    if (length > 15) return fail("Invalid DEFLATE Huffman code length.");
    ++table.count[length];
  }
  if (table.count[0] == lengths.size()) {
    if (kind == Kind::Distance) return table;
    return fail("Empty DEFLATE Huffman alphabet.");
  }
  long unused = 1;
  for (unsigned length = 1; length <= 15; ++length) {
    unused = unused * 2 - table.count[length];
    if (unused < 0) return fail("Oversubscribed DEFLATE Huffman alphabet.");
    if (table.count[length] != 0) table.max_length = length;
  }
  if (unused > 0 && (kind == Kind::CodeLength || table.max_length != 1)) {
    return fail("Incomplete DEFLATE Huffman alphabet.");
  }
  for (unsigned length = 1; length <= 15; ++length) {
    for (unsigned symbol = 0; symbol < lengths.size(); ++symbol) {
      if (lengths[symbol] == length) table.symbols.push_back(symbol);
    }
  }
  return table;
}

Result<unsigned> decode(Bits& bits, const Huffman& table) {
  std::uint32_t code = 0;
  std::uint32_t first = 0;
  std::uint32_t index = 0;
  for (unsigned length = 1; length <= table.max_length; ++length) {
    code |= TRY(bits.read(1));
    const std::uint32_t count = table.count[length];
    if (code - first < count) return table.symbols[index + (code - first)];
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return fail("Invalid DEFLATE Huffman code.");
}

constexpr unsigned kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr unsigned kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

Result<void> append(std::string& out, std::uint64_t limit, std::uint64_t count) {
  if (out.size() + count > limit) return fail("DEFLATE output exceeds the configured size limit.");
  return {};
}

Result<void> block_data(Bits& bits, const Huffman& literals, const Huffman& distances, std::string& out,
                        std::uint64_t limit, ReferenceResult& trace) {
  for (;;) {
    const unsigned symbol = TRY(decode(bits, literals));
    if (symbol < 256) {
      TRY(append(out, limit, 1));
      out.push_back(static_cast<char>(symbol));
      continue;
    }
    if (symbol == 256) return {};
    if (symbol >= 286) return fail("Reserved DEFLATE literal/length code.");
    const unsigned length = kLengthBase[symbol - 257] + TRY(bits.read(kLengthExtra[symbol - 257]));
    const unsigned distance_symbol = TRY(decode(bits, distances));
    if (distance_symbol >= 30) return fail("Reserved DEFLATE distance code.");
    const unsigned distance = kDistanceBase[distance_symbol] + TRY(bits.read(kDistanceExtra[distance_symbol]));
    if (distance == 0 || distance > 32768 || distance > out.size()) {
      return fail("DEFLATE back-reference is outside the 32 KiB output history.");
    }
    TRY(append(out, limit, length));
    trace.matches.push_back({length, distance});
    for (unsigned i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
  }
}

Result<void> stored(Bits& bits, std::string& out, std::uint64_t limit) {
  TRY(bits.read(static_cast<unsigned>((8 - bits.position() % 8) % 8)));
  const std::uint32_t length = TRY(bits.read(16));
  const std::uint32_t complement = TRY(bits.read(16));
  if ((length ^ complement) != 0xFFFF) return fail("Invalid DEFLATE stored-block length complement.");
  TRY(append(out, limit, length));
  const std::uint64_t start = bits.position() / 8;
  if (start + length > bits.input().size()) return fail("Truncated DEFLATE stored block.");
  out.append(bits.input().substr(start, length));
  bits.skip_bytes(length);
  return {};
}

Result<void> dynamic(Bits& bits, std::string& out, std::uint64_t limit, ReferenceResult& trace) {
  const unsigned hlit = TRY(bits.read(5));
  const unsigned hdist = TRY(bits.read(5));
  const unsigned hclen = TRY(bits.read(4));
  if (hlit > 29) return fail("Reserved DEFLATE literal/length alphabet size.");
  static constexpr unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  std::vector<unsigned> code_lengths(19, 0);
  for (unsigned i = 0; i < hclen + 4; ++i) code_lengths[kOrder[i]] = TRY(bits.read(3));
  const Huffman code_length_table = TRY(build(code_lengths, Kind::CodeLength));
  const unsigned total = hlit + 257 + hdist + 1;
  std::vector<unsigned> lengths;
  while (lengths.size() < total) {
    const unsigned symbol = TRY(decode(bits, code_length_table));
    if (symbol < 16) {
      lengths.push_back(symbol);
      continue;
    }
    unsigned value = 0;
    unsigned repeat = 0;
    if (symbol == 16) {
      if (lengths.empty()) return fail("DEFLATE repeats a code length before any previous length.");
      value = lengths.back();
      repeat = 3 + TRY(bits.read(2));
    } else if (symbol == 17) {
      repeat = 3 + TRY(bits.read(3));
    } else if (symbol == 18) {
      repeat = 11 + TRY(bits.read(7));
    } else {
      return fail("Invalid DEFLATE code-length symbol.");
    }
    if (lengths.size() + repeat > total) return fail("DEFLATE code-length repeat exceeds its alphabet.");
    lengths.insert(lengths.end(), repeat, value);
  }
  if (lengths[256] == 0) return fail("DEFLATE literal alphabet has no end-of-block code.");
  const Huffman literals = TRY(build({lengths.begin(), lengths.begin() + hlit + 257}, Kind::LiteralLength));
  const Huffman distances = TRY(build({lengths.begin() + hlit + 257, lengths.end()}, Kind::Distance));
  return block_data(bits, literals, distances, out, limit, trace);
}

Result<void> blocks(Bits& bits, std::string& out, std::uint64_t limit, ReferenceResult& trace) {
  for (;;) {
    const std::uint32_t final_block = TRY(bits.read(1));
    const std::uint32_t type = TRY(bits.read(2));
    trace.block_types.push_back(type);
    if (type == 0) {
      TRY(stored(bits, out, limit));
    } else if (type == 1) {
      std::vector<unsigned> literal(288, 8);
      std::fill(literal.begin() + 144, literal.begin() + 256, 9);
      std::fill(literal.begin() + 256, literal.begin() + 280, 7);
      const Huffman literals = TRY(build(literal, Kind::LiteralLength));
      const Huffman distances = TRY(build(std::vector<unsigned>(32, 5), Kind::Distance));
      TRY(block_data(bits, literals, distances, out, limit, trace));
    } else if (type == 2) {
      TRY(dynamic(bits, out, limit, trace));
    } else {
      return fail("Reserved DEFLATE block type.");
    }
    if (final_block) return {};
  }
}

}  // namespace

ReferenceResult reference_inflate(std::string_view input, std::uint64_t limit) {
  ReferenceResult result;
  Bits bits(input);
  const Result<void> decoded = blocks(bits, result.bytes, limit, result);
  if (!decoded.has_value()) {
    result.bytes.clear();
    result.message = decoded.error();
    return result;
  }
  result.ok = true;
  result.bits = bits.position();
  return result;
}

}  // namespace tarnwick::testing
