// Bounded raw DEFLATE encoder: lazy LZ77 matching over hash chains, each block
// written as the smallest of dynamic Huffman, fixed Huffman and stored, and the
// whole input as stored blocks when the encoded form would not be smaller.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "common/memory.h"
#include "common/text.h"
#include "common/types.h"
#include "resource/deflate/bit_writer.h"
#include "resource/deflate/block_encoder.h"
#include "resource/deflate/deflate.h"

namespace tarnwick {
namespace {

constexpr char kDictionaryMessage[] = "Cannot reserve the bounded DEFLATE encoder dictionary.";
constexpr char kExceedsLimitMessage[] = "DEFLATE output exceeds the configured size limit.";
constexpr char kOutputMemoryMessage[] = "Cannot reserve bounded DEFLATE output memory.";
constexpr char kStoredMemoryMessage[] = "Cannot reserve bounded stored DEFLATE output memory.";

constexpr std::uint64_t kStoredBlockBytes = 65535;
constexpr std::uint64_t kStoredBlockHeaderBytes = 5;
constexpr std::uint32_t kWindowBytes = 32768;
constexpr unsigned kMinMatchBytes = 3;
constexpr unsigned kMaxMatchBytes = 258;

// Matching effort. A chain is followed for at most kMaxChain earlier
// positions (a quarter of that when the match to beat is already good); a
// match of kNiceLength ends the search; a match of kLazyLength or more is
// taken without looking one byte further for a longer one.
constexpr unsigned kMaxChain = 64;
constexpr unsigned kGoodLength = 8;
constexpr unsigned kLazyLength = 32;
constexpr unsigned kNiceLength = 258;
// After this many searches in a row found nothing, the bytes after each
// further failed search are taken as literals without a search: one more for
// every kMissesPerLongerStride failures, up to kLongestStride.
constexpr std::size_t kMissesBeforeSkipping = 256;
constexpr std::size_t kMissesPerLongerStride = 16;
constexpr std::size_t kLongestStride = 16;
// A three-byte match further back than this costs about as much as its literals.
constexpr std::uint32_t kFarthestShortMatch = 4096;

constexpr unsigned kHashBits = 15;
constexpr std::uint32_t kHashMultiplier = 0x1E35A7BD;
// Positions in the tables are 32-bit offsets from an epoch start; the tables
// are cleared when an epoch ends, so an offset never reaches 2^31 and the
// empty mark is always more than a window away from any real position.
constexpr std::uint64_t kEpochBytes = 1ull << 30;
constexpr std::uint32_t kEmpty = 0x80000000u;

inline std::uint32_t load32(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

inline std::uint32_t hash4(std::uint32_t word) { return (word * kHashMultiplier) >> (32 - kHashBits); }
inline std::uint32_t hash3(const std::uint8_t* bytes) {
  const std::uint32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  return (value * kHashMultiplier) >> (32 - kHashBits);
}

// Number of equal bytes at the two places, at most `most`.
inline unsigned match_length(const std::uint8_t* earlier, const std::uint8_t* current, unsigned most) {
  unsigned length = 0;
  while (length + 8 <= most) {
    std::uint64_t a;
    std::uint64_t b;
    std::memcpy(&a, earlier + length, 8);
    std::memcpy(&b, current + length, 8);
    if (a != b) {
      const std::uint64_t difference = a ^ b;
      const int equal_bits =
          std::endian::native == std::endian::little ? std::countr_zero(difference) : std::countl_zero(difference);
      return length + static_cast<unsigned>(equal_bits / 8);
    }
    length += 8;
  }
  while (length < most && earlier[length] == current[length]) ++length;
  return length;
}

struct Match {
  unsigned length = 0;
  unsigned distance = 0;
};

// Everything the encoder takes besides its output: 448 KiB, reserved at once.
struct EncoderMemory {
  std::uint32_t head4[1u << kHashBits];  // latest position of each four-byte hash
  std::uint32_t head3[1u << kHashBits];  // latest position of each three-byte hash
  std::uint32_t chain[kWindowBytes];     // earlier position with the same four-byte hash
  std::uint32_t symbols[BlockEncoder::kMaxSymbols];

  void clear_tables() {
    std::fill(std::begin(head4), std::end(head4), kEmpty);
    std::fill(std::begin(head3), std::end(head3), kEmpty);
    std::fill(std::begin(chain), std::end(chain), kEmpty);
  }
};

// Hash chains over the input, addressed by offsets from the epoch start.
class MatchFinder {
 public:
  explicit MatchFinder(EncoderMemory& memory) : memory_(memory) { memory_.clear_tables(); }

  void start_epoch(const std::uint8_t* base) {
    base_ = base;
    memory_.clear_tables();
  }

  // Records the position (at least four bytes before the end) in the tables.
  void insert(std::uint32_t position) {
    const std::uint8_t* bytes = base_ + position;
    const std::uint32_t hash = hash4(load32(bytes));
    memory_.chain[position % kWindowBytes] = memory_.head4[hash];
    memory_.head4[hash] = position;
    memory_.head3[hash3(bytes)] = position;
  }

  // The longest match at position that is longer than better_than, looking
  // at `available` bytes at most; a zero length when there is none. Every
  // candidate is checked byte for byte, so a stale chain link costs time only.
  Match find(std::uint32_t position, std::size_t available, unsigned better_than, unsigned chain_limit) const {
    const std::uint8_t* current = base_ + position;
    const auto most = static_cast<unsigned>(std::min<std::size_t>(available, kMaxMatchBytes));
    Match best{better_than, 0};
    if (best.length >= most) return {};
    const std::uint32_t first_word = load32(current);
    std::uint32_t candidate = memory_.head4[hash4(first_word)];
    for (unsigned chain = chain_limit; chain > 0; --chain) {
      const std::uint32_t distance = position - candidate;
      if (distance - 1 >= kWindowBytes) break;  // nothing nearer is left, or the slot is empty
      const std::uint8_t* earlier = current - distance;
      // Only a candidate that also agrees one byte past the best so far can beat it.
      if (earlier[best.length] == current[best.length] && load32(earlier) == first_word) {
        const unsigned length = 4 + match_length(earlier + 4, current + 4, most - 4);
        if (length > best.length) {
          best = {length, distance};
          if (length >= kNiceLength || length == most) break;
        }
      }
      candidate = memory_.chain[candidate % kWindowBytes];
    }
    if (best.distance == 0 && better_than < kMinMatchBytes) {
      const std::uint32_t distance = position - memory_.head3[hash3(current)];
      if (distance - 1 < kFarthestShortMatch && std::memcmp(current - distance, current, kMinMatchBytes) == 0)
        best = {kMinMatchBytes, distance};
    }
    return best.distance == 0 ? Match{} : best;
  }

 private:
  EncoderMemory& memory_;
  const std::uint8_t* base_ = nullptr;
};

// Lazy matching: a match found at one position is kept only if the next
// position does not start a longer one; otherwise its first byte becomes a
// literal. Blocks are written as they fill; the pass stops early once the
// output cap is reached.
class LazyEncoder {
 public:
  LazyEncoder(std::string_view input, EncoderMemory& memory, BitWriter& writer)
      : input_(reinterpret_cast<const std::uint8_t*>(input.data())),
        size_(input.size()),
        writer_(writer),
        blocks_(input_, memory.symbols, writer),
        finder_(memory) {
    finder_.start_epoch(input_);
  }

  void run() {
    while (position_ < size_) {
      if (position_ - epoch_ >= kEpochBytes) {
        epoch_ = position_;
        finder_.start_epoch(input_ + epoch_);
      }
      const Match current = search_here();
      if (pending_.length >= kMinMatchBytes && current.length <= pending_.length) {
        if (!take_pending_match()) return;
        continue;
      }
      if (pending_literal_ && !literal(input_[position_ - 1])) return;
      pending_literal_ = true;
      pending_ = current;
      ++position_;
      misses_ = current.length == 0 ? misses_ + 1 : 0;
      if (misses_ > kMissesBeforeSkipping && !pass_over_unmatched()) return;
    }
    if (pending_literal_ && !literal(input_[size_ - 1])) return;
    blocks_.flush(true);
  }

 private:
  // The longest match at the position worth looking for, after which the
  // position is entered in the tables.
  Match search_here() {
    if (size_ - position_ < 4) return {};
    const auto offset = static_cast<std::uint32_t>(position_ - epoch_);
    Match current;
    if (pending_.length < kLazyLength) {
      const unsigned chain = pending_.length >= kGoodLength ? kMaxChain / 4 : kMaxChain;
      current = finder_.find(offset, size_ - position_, std::max(pending_.length, kMinMatchBytes - 1), chain);
    }
    finder_.insert(offset);
    return current;
  }

  // The match waiting at the previous position wins: emit it and enter the
  // positions it covers.
  bool take_pending_match() {
    blocks_.match(pending_.length, pending_.distance);
    const std::size_t end = position_ - 1 + pending_.length;
    const std::size_t hashable_end = std::min(end, size_ - 3);  // positions with four bytes left
    for (std::size_t later = position_ + 1; later < hashable_end; ++later)
      finder_.insert(static_cast<std::uint32_t>(later - epoch_));
    position_ = end;
    pending_ = {};
    pending_literal_ = false;
    return emitted();
  }

  // Where nothing has matched for a while, the bytes after a failed search
  // become literals unsearched, more of them the longer it lasts, so that
  // incompressible stretches cost little more than copying them.
  bool pass_over_unmatched() {
    const std::size_t stride = std::min<std::size_t>(
        {(misses_ - kMissesBeforeSkipping) / kMissesPerLongerStride + 1, kLongestStride, size_ - position_});
    for (std::size_t k = 0; k < stride; ++k)
      if (!literal(input_[position_ - 1 + k])) return false;
    position_ += stride;
    return true;
  }

  bool literal(std::uint8_t byte) {
    blocks_.literal(byte);
    return emitted();
  }

  // Writes a block once one is full; false once the output cap is reached.
  bool emitted() {
    if (!blocks_.full()) return true;
    blocks_.flush(false);
    return !writer_.exceeded();
  }

  const std::uint8_t* input_;
  std::size_t size_;
  BitWriter& writer_;
  BlockEncoder blocks_;
  MatchFinder finder_;
  std::size_t epoch_ = 0;
  std::size_t position_ = 0;
  Match pending_;                 // the match at position - 1, if any
  bool pending_literal_ = false;  // whether the byte at position - 1 still waits
  std::size_t misses_ = 0;        // searches in a row that found nothing
};

// Stored blocks: max(1, ceil(n / 65,535)) blocks of 5 header bytes each, plus the data.
std::uint64_t stored_size(std::uint64_t input_bytes) {
  const std::uint64_t blocks = std::max<std::uint64_t>(1, input_bytes / kStoredBlockBytes +
                                                              (input_bytes % kStoredBlockBytes != 0 ? 1 : 0));
  return saturating_add(saturating_mul(blocks, kStoredBlockHeaderBytes), input_bytes);
}

Result<std::string> compressed_pass(std::string_view input, std::uint64_t cap) {
  std::unique_ptr<EncoderMemory> memory(new (std::nothrow) EncoderMemory);
  if (!memory) return fail(kDictionaryMessage);
  std::string output;
  bool exceeded = false;
  const bool allocated = try_allocate([&] {
    output.resize_and_overwrite(static_cast<std::size_t>(cap), [&](char* data, std::size_t) {
      advise_huge_pages(data, static_cast<std::size_t>(cap));
      BitWriter writer(data, static_cast<std::size_t>(cap));
      LazyEncoder(input, *memory, writer).run();
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
      advise_huge_pages(data, static_cast<std::size_t>(size));
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
  // The pass may use at most the stored size: a result that large is abandoned.
  const std::uint64_t cap = std::min(stored, output_limit);
  {
    Result<std::string> pass = compressed_pass(input, cap);
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
