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

// Where a candidate's first and last bytes are, and how to compare them.
struct CandidateTest {
  unsigned char first, first_bit, last, last_bit;
  std::size_t last_offset;  // the pattern's length - 1
};

// The candidate scans read the pattern's last byte at each position too, so
// they stop a step and that far before the end and leave the rest to the byte loop.
#if defined(__SSE2__)
constexpr std::size_t kNarrowStep = 16;

std::size_t narrow_candidates(const unsigned char* data, std::size_t size, std::size_t i, const CandidateTest& test) {
  const auto load = [](const unsigned char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  const __m128i want_first = _mm_set1_epi8(static_cast<char>(test.first));
  const __m128i want_last = _mm_set1_epi8(static_cast<char>(test.last));
  const __m128i first_or = _mm_set1_epi8(static_cast<char>(test.first_bit));
  const __m128i last_or = _mm_set1_epi8(static_cast<char>(test.last_bit));
  for (; size - i >= kNarrowStep + test.last_offset; i += kNarrowStep) {
    const __m128i both =
        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(load(data + i), first_or), want_first),
                      _mm_cmpeq_epi8(_mm_or_si128(load(data + i + test.last_offset), last_or), want_last));
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
  const __m256i want_last = _mm256_set1_epi8(static_cast<char>(test.last));
  const __m256i first_or = _mm256_set1_epi8(static_cast<char>(test.first_bit));
  const __m256i last_or = _mm256_set1_epi8(static_cast<char>(test.last_bit));
  for (; size - i >= kWideStep + test.last_offset; i += kWideStep) {
    const __m256i at_first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i at_last = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + test.last_offset));
    const __m256i both = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(at_first, first_or), want_first),
                                          _mm256_cmpeq_epi8(_mm256_or_si256(at_last, last_or), want_last));
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
  last_letter_bit_ = pattern_.empty() ? 0 : letter_bit(pattern_.size() - 1);
}

std::size_t BytePattern::next_candidate(const unsigned char* data, std::size_t size, std::size_t from) const {
  const CandidateTest test{pattern_[0], first_letter_bit_, pattern_.back(), last_letter_bit_, pattern_.size() - 1};
  std::size_t i = from;
  if (test.last_offset == 0 && test.first_bit == 0) {
    const void* found = std::memchr(data + i, test.first, size - i);
    return found == nullptr ? size : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
  }
#if defined(__x86_64__)
  if (wide_) {
    i = wide_candidates(data, size, i, test);
    if (size - i >= kWideStep + test.last_offset) return i;
  }
#endif
#if defined(__SSE2__)
  i = narrow_candidates(data, size, i, test);
  if (size - i >= kNarrowStep + test.last_offset) return i;
#endif
  for (; size - i > test.last_offset; ++i) {
    if (fold_byte(data[i]) == test.first && fold_byte(data[i + test.last_offset]) == test.last) return i;
  }
  return size;
}

}  // namespace tarnwick
