// Bounded raw DEFLATE encoder: one greedy fixed-Huffman block, or stored blocks when that is not smaller.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/text.h"
#include "resource/deflate/deflate.h"
#include "common/types.h"
#include "resource/deflate/code_tables.h"

namespace tarnwick {
namespace {

constexpr char kDictionaryMessage[] = "Cannot reserve the bounded DEFLATE encoder dictionary.";
constexpr char kExceedsLimitMessage[] = "DEFLATE output exceeds the configured size limit.";
constexpr char kOutputMemoryMessage[] = "Cannot reserve bounded DEFLATE output memory.";
constexpr char kStoredMemoryMessage[] = "Cannot reserve bounded stored DEFLATE output memory.";

constexpr std::uint64_t kStoredBlockBytes = 65535;
constexpr std::uint64_t kStoredBlockHeaderBytes = 5;
constexpr std::size_t kMatchTableEntries = 65536;
constexpr std::uint32_t kHashMultiplier = 0x1E35A7BD;
constexpr std::uint64_t kWindowBytes = 32768;
constexpr std::size_t kMinMatchBytes = 3;
constexpr std::size_t kMaxMatchBytes = 258;
constexpr std::uint64_t kEmptySlot = UINT64_MAX;

using deflate_tables::kDistanceBase;
using deflate_tables::kDistanceExtra;
using deflate_tables::kLengthBase;
using deflate_tables::kLengthExtra;

constexpr std::uint32_t reverse_bits(std::uint32_t code, unsigned length) {
  std::uint32_t reversed = 0;
  for (unsigned i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
  return reversed;
}

// Bits ready for the least-significant-first stream, and how many there are.
struct Code {
  std::uint32_t bits = 0;
  std::uint8_t length = 0;
};

// Fixed Huffman codes are sent most significant bit first, so they are stored reversed.
constexpr Code fixed_literal_code(unsigned symbol) {
  if (symbol < 144) return {reverse_bits(0x30 + symbol, 8), 8};
  if (symbol < 256) return {reverse_bits(0x190 + symbol - 144, 9), 9};
  if (symbol < 280) return {reverse_bits(symbol - 256, 7), 7};
  return {reverse_bits(0xC0 + symbol - 280, 8), 8};
}

constexpr auto kLiteralCodes = [] {
  std::array<Code, 288> codes{};
  for (unsigned symbol = 0; symbol < 288; ++symbol) codes[symbol] = fixed_literal_code(symbol);
  return codes;
}();

// Per match length 3..258: the length symbol's code with its extra bits appended.
constexpr auto kLengthCodes = [] {
  std::array<Code, kMaxMatchBytes + 1> codes{};
  for (unsigned length = kMinMatchBytes; length <= kMaxMatchBytes; ++length) {
    unsigned index = 0;
    while (index + 1 < kLengthBase.size() && kLengthBase[index + 1] <= length) ++index;
    const Code symbol = fixed_literal_code(257 + index);
    codes[length] = {symbol.bits | (length - kLengthBase[index]) << symbol.length,
                     static_cast<std::uint8_t>(symbol.length + kLengthExtra[index])};
  }
  return codes;
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

inline Code distance_code(std::uint32_t distance) {
  const unsigned index = distance <= 256 ? kDistanceIndexNear[distance - 1] : kDistanceIndexFar[(distance - 1) >> 7];
  return {reverse_bits(index, 5) | (distance - kDistanceBase[index]) << 5,
          static_cast<std::uint8_t>(5 + kDistanceExtra[index])};
}

// Stored blocks: max(1, ceil(n / 65,535)) blocks of 5 header bytes each, plus the data.
std::uint64_t stored_size(std::uint64_t input_bytes) {
  const std::uint64_t blocks = std::max<std::uint64_t>(1, input_bytes / kStoredBlockBytes +
                                                              (input_bytes % kStoredBlockBytes != 0 ? 1 : 0));
  return saturating_add(saturating_mul(blocks, kStoredBlockHeaderBytes), input_bytes);
}

// Packs bits least significant first into storage of exactly `cap` bytes. Whole bytes
// are appended four at a time; since output only grows, the cap is exceeded by such a
// group exactly when appending its bytes one at a time would exceed it.
class BitWriter {
 public:
  BitWriter(char* data, std::size_t cap) : data_(data), cap_(cap) {}

  void put(Code code) {
    accumulator_ |= std::uint64_t{code.bits} << pending_;
    pending_ += code.length;
    if (pending_ >= 32) append_word();
  }

  // Appends the last partial bytes, zero-padded.
  void finish() {
    while (pending_ > 0 && !exceeded_) {
      if (length_ + 1 > cap_) {
        exceeded_ = true;
        return;
      }
      data_[length_++] = static_cast<char>(accumulator_ & 0xFF);
      accumulator_ >>= 8;
      pending_ = pending_ > 8 ? pending_ - 8 : 0;
    }
  }

  bool exceeded() const { return exceeded_; }
  std::size_t length() const { return length_; }

 private:
  void append_word() {
    if (length_ + 4 > cap_) {
      exceeded_ = true;
      pending_ = 0;
      return;
    }
    const std::uint32_t word = static_cast<std::uint32_t>(accumulator_);
    for (unsigned i = 0; i < 4; ++i) data_[length_ + i] = static_cast<char>(word >> (8 * i));
    length_ += 4;
    accumulator_ >>= 32;
    pending_ -= 32;
  }

  char* data_;
  std::size_t cap_;
  std::size_t length_ = 0;
  std::uint64_t accumulator_ = 0;
  unsigned pending_ = 0;
  bool exceeded_ = false;
};

inline std::uint32_t hash_at(const std::uint8_t* bytes) {
  const std::uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  return (value * kHashMultiplier) >> 16;
}

inline std::size_t match_length(const std::uint8_t* earlier, const std::uint8_t* current, std::size_t most) {
  std::size_t length = 0;
  while (length + 8 <= most) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, earlier + length, 8);
    std::memcpy(&b, current + length, 8);
    if (a != b) {
      const std::uint64_t difference = a ^ b;
      const int equal_bits =
          std::endian::native == std::endian::little ? std::countr_zero(difference) : std::countl_zero(difference);
      return length + static_cast<std::size_t>(equal_bits / 8);
    }
    length += 8;
  }
  while (length < most && earlier[length] == current[length]) ++length;
  return length;
}

// The greedy pass over the whole input, writing into `writer`; stops early once the cap is reached.
void encode_fixed_block(const std::uint8_t* input, std::size_t size, std::uint64_t* table, BitWriter& writer) {
  writer.put({0b011, 3});  // final block, type 1 (fixed Huffman)
  std::size_t position = 0;
  while (position < size && !writer.exceeded()) {
    if (size - position >= kMinMatchBytes) {
      const std::uint32_t hash = hash_at(input + position);
      const std::uint64_t candidate = table[hash];
      table[hash] = position;
      if (candidate != kEmptySlot && position - candidate <= kWindowBytes) {
        const std::size_t most = std::min(size - position, kMaxMatchBytes);
        const std::size_t length = match_length(input + candidate, input + position, most);
        if (length >= kMinMatchBytes) {
          writer.put(kLengthCodes[length]);
          writer.put(distance_code(static_cast<std::uint32_t>(position - candidate)));
          const std::size_t end = position + length;
          const std::size_t last_hashable = size - kMinMatchBytes;  // size >= 3 here
          for (std::size_t later = position + 1; later < end && later <= last_hashable; ++later) {
            table[hash_at(input + later)] = later;
          }
          position = end;
          continue;
        }
      }
    }
    writer.put(kLiteralCodes[input[position]]);
    ++position;
  }
  writer.put(kLiteralCodes[256]);
  writer.finish();
}

Result<std::string> fixed_huffman_pass(std::string_view input, std::uint64_t cap) {
  std::unique_ptr<std::uint64_t[]> table(new (std::nothrow) std::uint64_t[kMatchTableEntries]);
  if (!table) return fail(kDictionaryMessage);
  std::fill_n(table.get(), kMatchTableEntries, kEmptySlot);
  std::string output;
  bool exceeded = false;
  const bool allocated = try_allocate([&] {
    output.resize_and_overwrite(static_cast<std::size_t>(cap), [&](char* data, std::size_t) {
      BitWriter writer(data, static_cast<std::size_t>(cap));
      encode_fixed_block(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(), table.get(), writer);
      exceeded = writer.exceeded();
      return exceeded ? 0 : writer.length();
    });
  });
  if (!allocated) return fail(kOutputMemoryMessage);
  if (exceeded) return fail(kExceedsLimitMessage);
  return output;
}

Result<std::string> stored_form(std::string_view input, std::uint64_t size) {
  std::string output;
  const bool allocated = try_allocate([&] {
    output.resize_and_overwrite(static_cast<std::size_t>(size), [&](char* data, std::size_t) {
      std::size_t written = 0;
      std::size_t offset = 0;
      do {
        const std::size_t length = std::min<std::size_t>(input.size() - offset, kStoredBlockBytes);
        const bool last = offset + length == input.size();
        data[written++] = last ? 1 : 0;  // final-block bit, type 0, zero padding
        data[written++] = static_cast<char>(length & 0xFF);
        data[written++] = static_cast<char>(length >> 8);
        data[written++] = static_cast<char>(~length & 0xFF);
        data[written++] = static_cast<char>((~length >> 8) & 0xFF);
        if (length != 0) std::memcpy(data + written, input.data() + offset, length);
        written += length;
        offset += length;
      } while (offset < input.size());
      return written;
    });
  });
  if (!allocated) return fail(kStoredMemoryMessage);
  return output;
}

}  // namespace

Result<std::string> deflate_bounded(std::string_view input, std::uint64_t output_limit) {
  const std::uint64_t stored = stored_size(input.size());
  const std::uint64_t cap = std::min(stored, output_limit);
  {
    Result<std::string> pass = fixed_huffman_pass(input, cap);
    if (pass.has_value() && pass->size() < stored) return pass;
    // A failed pass falls back to stored blocks whenever the limit admits them.
    if (output_limit < stored) {
      if (!pass.has_value()) return pass;
      return fail(kExceedsLimitMessage);  // unreachable: a pass result never exceeds the cap
    }
  }
  return stored_form(input, stored);
}

}  // namespace tarnwick
