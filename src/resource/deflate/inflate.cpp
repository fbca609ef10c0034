// Raw DEFLATE decoder: table-driven, with exactly the results and messages of a bit-serial reading.
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

#include "common/memory.h"
#include "common/text.h"
#include "resource/deflate/deflate.h"
#include "common/types.h"
#include "resource/deflate/code_tables.h"

namespace tarnwick {
namespace {

// Every way a stream can be refused; mapped to its message only once, at the end,
// so the hot loop passes a byte around instead of a string.
enum class Fault : std::uint8_t {
  None,
  BitOffsetOverflow,
  Truncated,
  ReservedBlockType,
  StoredLengthComplement,
  TruncatedStored,
  ReservedLiteralAlphabetSize,
  RepeatWithoutPrevious,
  InvalidCodeLengthSymbol,
  RepeatExceedsAlphabet,
  NoEndOfBlock,
  AlphabetTooLarge,
  InvalidCodeLength,
  EmptyAlphabet,
  Oversubscribed,
  Incomplete,
  InvalidCode,
  ReservedLiteralLengthCode,
  ReservedDistanceCode,
  OutsideHistory,
  ExceedsLimit,
  CannotReserve,
};

const char* fault_message(Fault fault) {
  switch (fault) {
    case Fault::None: break;
    case Fault::BitOffsetOverflow: return "DEFLATE bit offset overflow.";
    case Fault::Truncated: return "Truncated DEFLATE stream.";
    case Fault::ReservedBlockType: return "Reserved DEFLATE block type.";
    case Fault::StoredLengthComplement: return "Invalid DEFLATE stored-block length complement.";
    case Fault::TruncatedStored: return "Truncated DEFLATE stored block.";
    case Fault::ReservedLiteralAlphabetSize: return "Reserved DEFLATE literal/length alphabet size.";
    case Fault::RepeatWithoutPrevious: return "DEFLATE repeats a code length before any previous length.";
    case Fault::InvalidCodeLengthSymbol: return "Invalid DEFLATE code-length symbol.";
    case Fault::RepeatExceedsAlphabet: return "DEFLATE code-length repeat exceeds its alphabet.";
    case Fault::NoEndOfBlock: return "DEFLATE literal alphabet has no end-of-block code.";
    case Fault::AlphabetTooLarge: return "DEFLATE Huffman alphabet is too large.";
    case Fault::InvalidCodeLength: return "Invalid DEFLATE Huffman code length.";
    case Fault::EmptyAlphabet: return "Empty DEFLATE Huffman alphabet.";
    case Fault::Oversubscribed: return "Oversubscribed DEFLATE Huffman alphabet.";
    case Fault::Incomplete: return "Incomplete DEFLATE Huffman alphabet.";
    case Fault::InvalidCode: return "Invalid DEFLATE Huffman code.";
    case Fault::ReservedLiteralLengthCode: return "Reserved DEFLATE literal/length code.";
    case Fault::ReservedDistanceCode: return "Reserved DEFLATE distance code.";
    case Fault::OutsideHistory: return "DEFLATE back-reference is outside the 32 KiB output history.";
    case Fault::ExceedsLimit: return "DEFLATE output exceeds the configured size limit.";
    case Fault::CannotReserve: return "Cannot reserve bounded DEFLATE output memory.";
  }
  return "";
}

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kMaxAlphabetSymbols = 288;
constexpr unsigned kCodeLengthSymbols = 19;
constexpr std::uint32_t kHistoryBytes = 32768;
// Stored-block byte positions must stay below this so that the bit position fits 64 bits.
constexpr std::uint64_t kMaxStoredBytePosition = 1ull << 61;
// One input byte can describe at most 1,032 output bytes (a 258-byte match in two one-bit
// codes), so a stream never needs more room than this, whatever the caller's limit.
constexpr std::uint64_t kMaxExpansionPerInputByte = 1032;
constexpr std::uint64_t kExpansionSlackBytes = 258;

using deflate_tables::kDistanceBase;
using deflate_tables::kDistanceExtra;
using deflate_tables::kLengthBase;
using deflate_tables::kLengthExtra;
constexpr std::array<std::uint8_t, kCodeLengthSymbols> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

std::uint64_t load_little_endian_64(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Least-significant-bit-first reader over the input. The buffer holds `count_` valid
// bits; bits above them are either zero or the true next input bits, never garbage,
// so a peek past the end of the input sees zero padding. The bit position never
// exceeds 8 x the input length, which fits 64 bits for any input held in memory, so
// only stored blocks (which move by whole bytes) check for bit-offset overflow.
class BitReader {
 public:
  explicit BitReader(std::string_view input)
      : data_(reinterpret_cast<const std::uint8_t*>(input.data())), size_(input.size()) {}

  // Afterwards at least 56 bits are buffered, or every remaining input bit is.
  void refill() {
    if (size_ - next_ >= 8) {
      buffer_ |= load_little_endian_64(data_ + next_) << count_;
      next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56 && next_ < size_) {
      buffer_ |= std::uint64_t{data_[next_++]} << count_;
      count_ += 8;
    }
  }

  std::uint64_t peek() const { return buffer_; }
  unsigned available() const { return count_; }
  void consume(unsigned bits) {
    buffer_ >>= bits;
    count_ -= bits;
  }

  // Reads `bits` (at most 32) bits; false when the input ends first.
  bool take(unsigned bits, std::uint32_t& value) {
    if (count_ < bits) {
      refill();
      if (count_ < bits) return false;
    }
    value = static_cast<std::uint32_t>(buffer_ & ((std::uint64_t{1} << bits) - 1));
    consume(bits);
    return true;
  }

  std::uint64_t bit_position() const { return next_ * 8 - count_; }
  std::size_t size() const { return size_; }
  const std::uint8_t* data() const { return data_; }

  // Continues at a whole byte; only valid on a byte boundary.
  void restart_at_byte(std::size_t byte) {
    next_ = byte;
    buffer_ = 0;
    count_ = 0;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t next_ = 0;
  std::uint64_t buffer_ = 0;
  unsigned count_ = 0;
};

enum class AlphabetKind : std::uint8_t { CodeLength, LiteralLength, Distance };

// A canonical Huffman code as a two-level look-up table indexed by the next input bits
// (least significant first). Entry layout: bits 0-15 symbol or sub-table start, bits
// 16-23 code length or sub-table index width, bits 24-31 the entry kind.
struct HuffmanTable {
  static constexpr std::uint32_t kSymbol = 0;
  static constexpr std::uint32_t kLink = 1;
  static constexpr std::uint32_t kInvalid = 2;
  // A complete code over at most 288 symbols: each sub-table of 2^k entries holds at
  // least k + 1 symbols, so 2^10 + (288 / 6 + 1) * 2^5 entries always suffice.
  static constexpr unsigned kMaxEntries = 1024 + (kMaxAlphabetSymbols / 6 + 1) * 32;

  unsigned root_bits = 0;
  unsigned max_length = 0;  // longest code; a bit-serial reader reads at most this many bits
  std::array<std::uint32_t, kMaxEntries> entries;
};

constexpr std::uint32_t table_entry(std::uint32_t kind, std::uint32_t width, std::uint32_t value) {
  return kind << 24 | width << 16 | value;
}
constexpr std::uint32_t entry_kind(std::uint32_t entry) { return entry >> 24; }
constexpr unsigned entry_width(std::uint32_t entry) { return (entry >> 16) & 0xFF; }
constexpr unsigned entry_value(std::uint32_t entry) { return entry & 0xFFFF; }

unsigned reverse_bits(unsigned code, unsigned length) {
  unsigned reversed = 0;
  for (unsigned i = 0; i < length; ++i) reversed |= ((code >> i) & 1u) << (length - 1 - i);
  return reversed;
}

// Builds the canonical code of lengths[0..count), applying the rules for empty and
// incomplete codes of each alphabet kind in their fixed order.
Fault build_table(const std::uint8_t* lengths, unsigned count, AlphabetKind kind, unsigned wanted_root_bits,
                  HuffmanTable& table) {
  if (count > kMaxAlphabetSymbols) return Fault::AlphabetTooLarge;
  std::array<unsigned, kMaxCodeBits + 1> per_length{};
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    if (lengths[symbol] > kMaxCodeBits) return Fault::InvalidCodeLength;
    ++per_length[lengths[symbol]];
  }
  if (per_length[0] == count) {
    if (kind != AlphabetKind::Distance) return Fault::EmptyAlphabet;
    // An empty distance code is valid until a distance is decoded with it.
    table.root_bits = 1;
    table.max_length = 0;
    table.entries[0] = table.entries[1] = table_entry(HuffmanTable::kInvalid, 0, 0);
    return Fault::None;
  }
  int unused = 1;
  unsigned max_length = 0;
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    unused = unused * 2 - static_cast<int>(per_length[length]);
    if (unused < 0) return Fault::Oversubscribed;
    if (per_length[length] != 0) max_length = length;
  }
  // Only a single one-bit literal/length or distance code may leave codes unused.
  if (unused > 0 && (kind == AlphabetKind::CodeLength || max_length != 1)) return Fault::Incomplete;

  const unsigned root_bits = std::min(wanted_root_bits, max_length);
  const unsigned root_size = 1u << root_bits;
  table.root_bits = root_bits;
  table.max_length = max_length;

  std::array<unsigned, kMaxCodeBits + 2> next_code{};
  for (unsigned length = 1, code = 0; length <= kMaxCodeBits; ++length) {
    code = (code + (length == 1 ? 0 : per_length[length - 1])) << 1;
    next_code[length] = code;
  }

  // Sub-table widths: the longest code below each root prefix decides its size.
  std::array<std::uint8_t, 1u << 10> sub_bits{};
  if (max_length > root_bits) {
    std::array<unsigned, kMaxCodeBits + 2> code_of_length = next_code;
    for (unsigned symbol = 0; symbol < count; ++symbol) {
      const unsigned length = lengths[symbol];
      if (length <= root_bits) {
        if (length != 0) ++code_of_length[length];
        continue;
      }
      const unsigned prefix = reverse_bits(code_of_length[length]++, length) & (root_size - 1);
      sub_bits[prefix] = std::max<std::uint8_t>(sub_bits[prefix], static_cast<std::uint8_t>(length - root_bits));
    }
  }
  const std::uint32_t invalid = table_entry(HuffmanTable::kInvalid, 0, 0);
  std::fill_n(table.entries.begin(), root_size, invalid);
  unsigned next_free = root_size;
  if (max_length > root_bits) {
    for (unsigned prefix = 0; prefix < root_size; ++prefix) {
      if (sub_bits[prefix] == 0) continue;
      table.entries[prefix] = table_entry(HuffmanTable::kLink, sub_bits[prefix], next_free);
      std::fill_n(table.entries.begin() + next_free, 1u << sub_bits[prefix], invalid);
      next_free += 1u << sub_bits[prefix];
    }
  }

  for (unsigned symbol = 0; symbol < count; ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) continue;
    const unsigned reversed = reverse_bits(next_code[length]++, length);
    const std::uint32_t entry = table_entry(HuffmanTable::kSymbol, length, symbol);
    if (length <= root_bits) {
      for (unsigned index = reversed; index < root_size; index += 1u << length) table.entries[index] = entry;
      continue;
    }
    const std::uint32_t link = table.entries[reversed & (root_size - 1)];
    const unsigned width = entry_width(link);
    const unsigned start = entry_value(link);
    for (unsigned index = reversed >> root_bits; index < (1u << width); index += 1u << (length - root_bits)) {
      table.entries[start + index] = entry;
    }
  }
  return Fault::None;
}

// Decodes one symbol. A bit-serial reader would read bits until a code matches, and
// fail as truncated when the input ends first, or as invalid after max_length bits.
// The table sees the next bits with zero padding past the end of the input; a code
// longer than the bits really available therefore means truncation.
inline Fault decode_symbol(BitReader& reader, const HuffmanTable& table, unsigned& symbol) {
  if (reader.available() < kMaxCodeBits) reader.refill();
  const std::uint64_t bits = reader.peek();
  std::uint32_t entry = table.entries[bits & ((1u << table.root_bits) - 1)];
  if (entry_kind(entry) == HuffmanTable::kLink) {
    entry = table.entries[entry_value(entry) + ((bits >> table.root_bits) & ((1u << entry_width(entry)) - 1))];
  }
  if (entry_kind(entry) == HuffmanTable::kInvalid) {
    return reader.available() < table.max_length ? Fault::Truncated : Fault::InvalidCode;
  }
  const unsigned length = entry_width(entry);
  if (length > reader.available()) return Fault::Truncated;
  reader.consume(length);
  symbol = entry_value(entry);
  return Fault::None;
}

// The decoded bytes, written into storage reserved once at the most the stream can need.
class Output {
 public:
  Output(char* data, std::size_t capacity, std::uint64_t limit) : data_(data), capacity_(capacity), limit_(limit) {}

  // The limit is checked before every append; the storage was reserved up front, so the
  // capacity test only guards the invariant.
  Fault make_room(std::uint64_t bytes) const {
    if (length_ > UINT64_MAX - bytes || length_ + bytes > limit_) return Fault::ExceedsLimit;
    if (length_ + bytes > capacity_) return Fault::CannotReserve;
    return Fault::None;
  }

  char* data() const { return data_; }
  std::size_t length() const { return length_; }
  void advance(std::size_t bytes) { length_ += bytes; }

 private:
  char* data_;
  std::size_t capacity_;
  std::uint64_t limit_;
  std::size_t length_ = 0;
};

// Copies `length` bytes from `distance` back; overlapping copies repeat recent bytes.
inline void copy_match(char* destination, std::size_t distance, std::size_t length) {
  const char* source = destination - distance;
  if (distance == 1) {
    std::memset(destination, *source, length);
    return;
  }
  if (distance >= length) {
    std::memcpy(destination, source, length);
    return;
  }
  // The bytes from source to destination form a period; each chunk copies whole periods.
  char* const end = destination + length;
  while (destination < end) {
    const std::size_t chunk = std::min<std::size_t>(end - destination, destination - source);
    std::memcpy(destination, source, chunk);
    destination += chunk;
  }
}

Fault decode_block_data(BitReader& reader, const HuffmanTable& literals, const HuffmanTable& distances,
                        Output& output) {
  for (;;) {
    unsigned symbol = 0;
    if (Fault fault = decode_symbol(reader, literals, symbol); fault != Fault::None) return fault;
    if (symbol < 256) {
      if (Fault fault = output.make_room(1); fault != Fault::None) return fault;
      output.data()[output.length()] = static_cast<char>(symbol);
      output.advance(1);
      continue;
    }
    if (symbol == 256) return Fault::None;
    if (symbol >= 286) return Fault::ReservedLiteralLengthCode;
    std::uint32_t extra = 0;
    if (!reader.take(kLengthExtra[symbol - 257], extra)) return Fault::Truncated;
    const std::size_t length = kLengthBase[symbol - 257] + extra;

    unsigned distance_symbol = 0;
    if (Fault fault = decode_symbol(reader, distances, distance_symbol); fault != Fault::None) return fault;
    if (distance_symbol >= 30) return Fault::ReservedDistanceCode;
    if (!reader.take(kDistanceExtra[distance_symbol], extra)) return Fault::Truncated;
    const std::size_t distance = kDistanceBase[distance_symbol] + extra;
    if (distance > kHistoryBytes || distance > output.length()) return Fault::OutsideHistory;

    if (Fault fault = output.make_room(length); fault != Fault::None) return fault;
    copy_match(output.data() + output.length(), distance, length);
    output.advance(length);
  }
}

Fault decode_stored_block(BitReader& reader, Output& output) {
  std::uint32_t ignored = 0;
  if (!reader.take(static_cast<unsigned>((8 - reader.bit_position() % 8) % 8), ignored)) return Fault::Truncated;
  std::uint32_t length = 0;
  std::uint32_t complement = 0;
  if (!reader.take(16, length) || !reader.take(16, complement)) return Fault::Truncated;
  if ((length ^ complement) != 0xFFFF) return Fault::StoredLengthComplement;
  if (Fault fault = output.make_room(length); fault != Fault::None) return fault;
  const std::uint64_t start = reader.bit_position() / 8;
  if (start + length > reader.size()) return Fault::TruncatedStored;
  if (start + length >= kMaxStoredBytePosition) return Fault::BitOffsetOverflow;
  std::memcpy(output.data() + output.length(), reader.data() + start, length);
  output.advance(length);
  reader.restart_at_byte(start + length);
  return Fault::None;
}

struct BlockTables {
  HuffmanTable literals;
  HuffmanTable distances;
  HuffmanTable code_lengths;
};

constexpr unsigned kLiteralRootBits = 10;
constexpr unsigned kDistanceRootBits = 8;
constexpr unsigned kCodeLengthRootBits = 7;

Fault read_dynamic_tables(BitReader& reader, BlockTables& tables) {
  std::uint32_t literal_field = 0;
  std::uint32_t distance_field = 0;
  std::uint32_t code_length_field = 0;
  if (!reader.take(5, literal_field) || !reader.take(5, distance_field) || !reader.take(4, code_length_field)) {
    return Fault::Truncated;
  }
  if (literal_field > 29) return Fault::ReservedLiteralAlphabetSize;
  const unsigned literal_count = literal_field + 257;
  // Up to 32 distance symbols: the two unused ones fail only when decoded.
  const unsigned distance_count = distance_field + 1;

  std::array<std::uint8_t, kCodeLengthSymbols> code_length_lengths{};
  for (unsigned i = 0; i < code_length_field + 4; ++i) {
    std::uint32_t length = 0;
    if (!reader.take(3, length)) return Fault::Truncated;
    code_length_lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(length);
  }
  if (Fault fault = build_table(code_length_lengths.data(), kCodeLengthSymbols, AlphabetKind::CodeLength,
                                kCodeLengthRootBits, tables.code_lengths);
      fault != Fault::None) {
    return fault;
  }

  // Literal/length and distance lengths form one sequence: a repeat may cross from one to the other.
  std::array<std::uint8_t, 286 + 32> lengths{};
  const unsigned total = literal_count + distance_count;
  for (unsigned index = 0; index < total;) {
    unsigned symbol = 0;
    if (Fault fault = decode_symbol(reader, tables.code_lengths, symbol); fault != Fault::None) return fault;
    if (symbol < 16) {
      lengths[index++] = static_cast<std::uint8_t>(symbol);
      continue;
    }
    std::uint8_t value = 0;
    std::uint32_t repeat = 0;
    if (symbol == 16) {
      if (index == 0) return Fault::RepeatWithoutPrevious;
      value = lengths[index - 1];
      if (!reader.take(2, repeat)) return Fault::Truncated;
      repeat += 3;
    } else if (symbol == 17) {
      if (!reader.take(3, repeat)) return Fault::Truncated;
      repeat += 3;
    } else if (symbol == 18) {
      if (!reader.take(7, repeat)) return Fault::Truncated;
      repeat += 11;
    } else {
      return Fault::InvalidCodeLengthSymbol;
    }
    if (index + repeat > total) return Fault::RepeatExceedsAlphabet;
    std::fill_n(lengths.begin() + index, repeat, value);
    index += repeat;
  }
  if (lengths[256] == 0) return Fault::NoEndOfBlock;
  if (Fault fault =
          build_table(lengths.data(), literal_count, AlphabetKind::LiteralLength, kLiteralRootBits, tables.literals);
      fault != Fault::None) {
    return fault;
  }
  return build_table(lengths.data() + literal_count, distance_count, AlphabetKind::Distance, kDistanceRootBits,
                     tables.distances);
}

// The fixed code is built by the same builder as dynamic codes, once per process.
const BlockTables& fixed_tables() {
  static const BlockTables* const tables = [] {
    auto* built = new BlockTables();
    std::array<std::uint8_t, 288> literal_lengths{};
    std::fill_n(literal_lengths.begin(), 144, 8);
    std::fill_n(literal_lengths.begin() + 144, 112, 9);
    std::fill_n(literal_lengths.begin() + 256, 24, 7);
    std::fill_n(literal_lengths.begin() + 280, 8, 8);
    std::array<std::uint8_t, 32> distance_lengths{};
    distance_lengths.fill(5);
    (void)build_table(literal_lengths.data(), 288, AlphabetKind::LiteralLength, kLiteralRootBits, built->literals);
    (void)build_table(distance_lengths.data(), 32, AlphabetKind::Distance, kDistanceRootBits, built->distances);
    return built;
  }();
  return *tables;
}

Fault inflate_blocks(BitReader& reader, Output& output) {
  auto dynamic = std::make_unique<BlockTables>();
  for (;;) {
    std::uint32_t final_block = 0;
    std::uint32_t type = 0;
    if (!reader.take(1, final_block) || !reader.take(2, type)) return Fault::Truncated;
    Fault fault = Fault::None;
    switch (type) {
      case 0: fault = decode_stored_block(reader, output); break;
      case 1: fault = decode_block_data(reader, fixed_tables().literals, fixed_tables().distances, output); break;
      case 2:
        fault = read_dynamic_tables(reader, *dynamic);
        if (fault == Fault::None) fault = decode_block_data(reader, dynamic->literals, dynamic->distances, output);
        break;
      default: return Fault::ReservedBlockType;
    }
    if (fault != Fault::None) return fault;
    if (final_block != 0) return Fault::None;
  }
}

InflateFault fault_kind(Fault fault) {
  if (fault == Fault::ExceedsLimit) return InflateFault::OutputLimit;
  if (fault == Fault::CannotReserve) return InflateFault::NoMemory;
  return InflateFault::InvalidStream;
}

std::unexpected<InflateFailure> failure(Fault fault) {
  return std::unexpected(InflateFailure{fault_kind(fault), fault_message(fault)});
}

}  // namespace

std::expected<Inflated, InflateFailure> inflate_raw_with_fault(std::string_view input, std::uint64_t output_limit) {
  // Reserved once at the smaller of the limit and the most this input can expand to.
  const std::uint64_t room = std::min(
      output_limit, saturating_add(saturating_mul(input.size(), kMaxExpansionPerInputByte), kExpansionSlackBytes));
  Inflated result;
  BitReader reader(input);
  Fault fault = Fault::None;
  const bool allocated = try_allocate([&] {
    result.bytes.resize_and_overwrite(static_cast<std::size_t>(room), [&](char* data, std::size_t capacity) {
      advise_huge_pages(data, capacity);
      Output output(data, capacity, output_limit);
      fault = inflate_blocks(reader, output);
      return fault == Fault::None ? output.length() : 0;
    });
  });
  if (!allocated) return failure(Fault::CannotReserve);
  if (fault != Fault::None) return failure(fault);
  result.bits_consumed = reader.bit_position();
  return result;
}

Result<Inflated> inflate_raw(std::string_view input, std::uint64_t output_limit) {
  auto inflated = inflate_raw_with_fault(input, output_limit);
  if (!inflated) return fail(std::move(inflated.error().message));
  return std::move(*inflated);
}

}  // namespace tarnwick
