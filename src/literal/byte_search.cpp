// The byte-pattern automaton's construction and its vectorised candidate scan.
#include "literal/byte_search.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

namespace {

constexpr std::size_t kChunkBytes = 16;

#if defined(__SSE2__)
__m128i fold_chunk(__m128i v) {
  // Signed compares are safe: A-Z lie below 80, and bytes from 80 up are negative.
  const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
  return _mm_or_si128(v, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
}

__m128i load(const unsigned char* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }
#endif

}  // namespace

BytePattern::BytePattern(std::string_view pattern, FoldAsciiCase fold) : fold_(fold) {
  pattern_.reserve(pattern.size());
  for (const char c : pattern) pattern_.push_back(fold_byte(static_cast<unsigned char>(c)));
  failure_.assign(pattern_.size(), 0);
  std::size_t k = 0;
  for (std::size_t i = 1; i < pattern_.size(); ++i) {
    while (k > 0 && pattern_[i] != pattern_[k]) k = failure_[k - 1];
    if (pattern_[i] == pattern_[k]) ++k;
    failure_[i] = k;
  }
  const auto is_lower = [](unsigned char c) { return c >= 'a' && c <= 'z'; };
  fold_first_bytes_ = fold == FoldAsciiCase::Yes && !pattern_.empty() &&
                      (is_lower(pattern_[0]) || (pattern_.size() > 1 && is_lower(pattern_[1])));
}

std::size_t BytePattern::next_candidate(const unsigned char* data, std::size_t size, std::size_t from) const {
  const unsigned char first = pattern_[0];
  const bool two = pattern_.size() > 1;
  const unsigned char second = two ? pattern_[1] : 0;
  std::size_t i = from;
  if (!two && !fold_first_bytes_) {
    const void* found = std::memchr(data + i, first, size - i);
    return found == nullptr ? size : static_cast<std::size_t>(static_cast<const unsigned char*>(found) - data);
  }
#if defined(__SSE2__)
  const __m128i want_first = _mm_set1_epi8(static_cast<char>(first));
  const __m128i want_second = _mm_set1_epi8(static_cast<char>(second));
  // The second load reads one byte further, so stop a chunk and a byte before the end.
  while (size - i >= kChunkBytes + 1) {
    __m128i at_first = load(data + i);
    __m128i at_second = two ? load(data + i + 1) : want_second;
    if (fold_first_bytes_) {
      at_first = fold_chunk(at_first);
      if (two) at_second = fold_chunk(at_second);
    }
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(at_first, want_first), _mm_cmpeq_epi8(at_second, want_second));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(both));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
    i += kChunkBytes;
  }
#endif
  for (; i < size; ++i) {
    if (fold_byte(data[i]) != first) continue;
    if (!two) return i;
    if (i + 1 < size && fold_byte(data[i + 1]) == second) return i;
  }
  return size;
}

}  // namespace tarnwick
