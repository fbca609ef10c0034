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

// The candidate scans read the byte after each position too, so they stop a
// step and a byte before the end and leave the rest to the byte loop.
#if defined(__SSE2__)
constexpr std::size_t kNarrowStep = 16;

std::size_t narrow_candidates(const unsigned char* data, std::size_t size, std::size_t i, unsigned char first,
                              unsigned char first_bit, unsigned char second, unsigned char second_bit) {
  const auto load = [](const unsigned char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  const __m128i want_first = _mm_set1_epi8(static_cast<char>(first));
  const __m128i want_second = _mm_set1_epi8(static_cast<char>(second));
  const __m128i first_or = _mm_set1_epi8(static_cast<char>(first_bit));
  const __m128i second_or = _mm_set1_epi8(static_cast<char>(second_bit));
  for (; size - i >= kNarrowStep + 1; i += kNarrowStep) {
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(load(data + i), first_or), want_first),
                                       _mm_cmpeq_epi8(_mm_or_si128(load(data + i + 1), second_or), want_second));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(both));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
  }
  return i;
}
#endif

#if defined(__x86_64__)
constexpr std::size_t kWideStep = 32;

__attribute__((target("avx2"))) std::size_t wide_candidates(const unsigned char* data, std::size_t size,
                                                            std::size_t i, unsigned char first,
                                                            unsigned char first_bit, unsigned char second,
                                                            unsigned char second_bit) {
  const __m256i want_first = _mm256_set1_epi8(static_cast<char>(first));
  const __m256i want_second = _mm256_set1_epi8(static_cast<char>(second));
  const __m256i first_or = _mm256_set1_epi8(static_cast<char>(first_bit));
  const __m256i second_or = _mm256_set1_epi8(static_cast<char>(second_bit));
  for (; size - i >= kWideStep + 1; i += kWideStep) {
    const __m256i at_first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i at_second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1));
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
  const auto letter_bit = [&](std::size_t at) -> unsigned char {
    return fold == FoldAsciiCase::Yes && at < pattern_.size() && is_lower(pattern_[at]) ? 0x20 : 0;
  };
  first_letter_bit_ = letter_bit(0);
  second_letter_bit_ = letter_bit(1);
}

std::size_t BytePattern::next_candidate(const unsigned char* data, std::size_t size, std::size_t from) const {
  const unsigned char first = pattern_[0];
  const bool two = pattern_.size() > 1;
  std::size_t i = from;
  if (!two && first_letter_bit_ == 0) {
    const void* found = std::memchr(data + i, first, size - i);
    return found == nullptr ? size : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
  }
  // A one-byte pattern asks nothing of the byte after it: any byte ORed with
  // 0xFF equals 0xFF.
  const unsigned char second = two ? pattern_[1] : 0xFF;
  const unsigned char second_bit = two ? second_letter_bit_ : 0xFF;
#if defined(__x86_64__)
  if (wide_) {
    i = wide_candidates(data, size, i, first, first_letter_bit_, second, second_bit);
    if (size - i >= kWideStep + 1) return i;
  }
#endif
#if defined(__SSE2__)
  i = narrow_candidates(data, size, i, first, first_letter_bit_, second, second_bit);
  if (size - i >= kNarrowStep + 1) return i;
#endif
  for (; i < size; ++i) {
    if (fold_byte(data[i]) != first) continue;
    if (!two) return i;
    if (i + 1 < size && fold_byte(data[i + 1]) == second) return i;
  }
  return size;
}

}  // namespace tarnwick
