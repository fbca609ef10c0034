// The byte-pattern automaton's construction and its vectorised candidate scan.
#include "literal/byte_search.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/memory.h"

namespace tarnwick {

namespace {

bool is_lower(unsigned char c) { return c >= 'a' && c <= 'z'; }

// How common a byte is in text and data, roughly, from 0 (rare) up: the
// candidate scan looks for the pattern's two least common bytes together,
// which text rarely holds where the pattern does not begin.
int commonness(unsigned char byte) {
  // English letters by frequency, most common first.
  constexpr std::string_view kLetters = "etaoinshrdlcumwfgypbvkjxqz";
  if (is_lower(byte)) return 250 - 4 * static_cast<int>(kLetters.find(static_cast<char>(byte)));
  if (byte == ' ') return 255;
  if (byte >= 'A' && byte <= 'Z') return 140;
  if (byte >= '0' && byte <= '9') return 170;
  if (byte == '\n' || byte == 0x00 || byte == '.' || byte == ',') return 200;
  if (byte >= 0x80) return byte == 0xFF ? 150 : 120;  // UTF-8 leads and continuations, binary data
  if (byte < 0x20) return 60;
  return 130;  // other punctuation
}

// The two bytes a candidate must hold, at their offsets from its start, and
// the letter bits to OR into the data before comparing.
struct CandidateTest {
  unsigned char first, first_bit, second, second_bit;
  std::size_t first_offset, second_offset;
};

// The candidate scans read the data up to the second byte's offset past each
// position, so they stop a step and that far before the end and leave the
// rest to the byte loop.
#if defined(__SSE2__)
constexpr std::size_t kNarrowStep = 16;

std::size_t narrow_candidates(const unsigned char* data, std::size_t size, std::size_t i, const CandidateTest& test) {
  const auto load = [](const unsigned char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  const __m128i want_first = _mm_set1_epi8(static_cast<char>(test.first));
  const __m128i want_second = _mm_set1_epi8(static_cast<char>(test.second));
  const __m128i first_or = _mm_set1_epi8(static_cast<char>(test.first_bit));
  const __m128i second_or = _mm_set1_epi8(static_cast<char>(test.second_bit));
  for (; size - i >= kNarrowStep + test.second_offset; i += kNarrowStep) {
    const __m128i both =
        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(load(data + i + test.first_offset), first_or), want_first),
                      _mm_cmpeq_epi8(_mm_or_si128(load(data + i + test.second_offset), second_or), want_second));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(both));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return i;
}
#endif

#if defined(__x86_64__)
constexpr std::size_t kWideStep = 32;

__attribute__((target("avx2"))) std::size_t wide_candidates(const unsigned char* data, std::size_t size,
                                                            std::size_t i, const CandidateTest& test) {
  const __m256i want_first = _mm256_set1_epi8(static_cast<char>(test.first));
  const __m256i want_second = _mm256_set1_epi8(static_cast<char>(test.second));
  const __m256i first_or = _mm256_set1_epi8(static_cast<char>(test.first_bit));
  const __m256i second_or = _mm256_set1_epi8(static_cast<char>(test.second_bit));
  for (; size - i >= kWideStep + test.second_offset; i += kWideStep) {
    const __m256i at_first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + test.first_offset));
    const __m256i at_second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + test.second_offset));
    const __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(at_first, first_or), want_first),
                                          _mm256_cmpeq_epi8(_mm256_or_si256(at_second, second_or), want_second));
    const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(both));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return i;
}
#endif

}  // namespace

BytePattern::BytePattern(std::string_view pattern, FoldAsciiCase fold, ScanWidth width) : fold_(fold) {
  pattern_.reserve(pattern.size());
  for (const char c : pattern) pattern_.push_back(fold_byte(static_cast<unsigned char>(c)));
  failure_.assign(pattern_.size(), 0);
  std::size_t k = 0;
  for (std::size_t i = 1; i < pattern_.size(); ++i) {
    while (k > 0 && pattern_[i] != pattern_[k]) k = failure_[k - 1];
    if (pattern_[i] == pattern_[k]) ++k;
    failure_[i] = k;
  }
  wide_ = width == ScanWidth::Widest && cpu_has_avx2();
  choose_rare_bytes();
}

void BytePattern::choose_rare_bytes() {
  if (pattern_.empty()) return;
  const auto rarest_except = [&](std::size_t skipped) {
    std::size_t rarest = skipped == 0 ? 1 : 0;
    for (std::size_t at = 0; at < pattern_.size(); ++at) {
      if (at != skipped && commonness(pattern_[at]) < commonness(pattern_[rarest])) rarest = at;
    }
    return rarest;
  };
  const std::size_t one = rarest_except(pattern_.size());
  const std::size_t other = pattern_.size() == 1 ? one : rarest_except(one);
  const auto letter_bit = [&](std::size_t at) -> unsigned char {
    return fold_ == FoldAsciiCase::Yes && is_lower(pattern_[at]) ? 0x20 : 0;
  };
  rare_ = RareBytes{std::min(one, other), std::max(one, other), 0, 0};
  rare_.first_letter_bit = letter_bit(rare_.first_offset);
  rare_.second_letter_bit = letter_bit(rare_.second_offset);
}

std::size_t BytePattern::next_candidate(const unsigned char* data, std::size_t size, std::size_t from) const {
  const CandidateTest test{pattern_[rare_.first_offset], rare_.first_letter_bit, pattern_[rare_.second_offset],
                           rare_.second_letter_bit, rare_.first_offset, rare_.second_offset};
  std::size_t i = from;
  if (pattern_.size() == 1 && test.first_bit == 0) {
    const void* found = std::memchr(data + i, test.first, size - i);
    return found == nullptr ? size : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
  }
#if defined(__x86_64__)
  if (wide_) {
    i = wide_candidates(data, size, i, test);
    if (size - i >= kWideStep + test.second_offset) return i;
  }
#endif
#if defined(__SSE2__)
  i = narrow_candidates(data, size, i, test);
  if (size - i >= kNarrowStep + test.second_offset) return i;
#endif
  // A match needs the whole pattern's length, not only up to the second byte.
  for (; size - i >= pattern_.size(); ++i) {
    if (fold_byte(data[i + test.first_offset]) == test.first && fold_byte(data[i + test.second_offset]) == test.second)
      return i;
  }
  return size;
}

}  // namespace tarnwick
