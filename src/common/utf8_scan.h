// The vectorised walk behind the fast UTF-8 validator, shared with the
// encoding detection screen: plain ASCII is skipped sixteen bytes at a time and
// only the characters a chunk test flags are decoded.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/utf8.h"

namespace tarnwick::utf8_scan {

using Bytes = const unsigned char*;

inline constexpr std::size_t kChunkBytes = 16;

#if defined(__SSE2__)
// Bit k set when byte k of the chunk is not ASCII.
inline unsigned non_ascii_bytes(Bytes chunk) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
  return static_cast<unsigned>(_mm_movemask_epi8(v));
}
#else
inline unsigned non_ascii_bytes(Bytes chunk) {
  unsigned mask = 0;
  for (std::size_t k = 0; k < kChunkBytes; ++k) mask |= (chunk[k] >= 0x80 ? 1u : 0u) << k;
  return mask;
}
#endif

// Walks the characters the chunk test flags, 16 bytes at a time: bytes it
// accepts are plain ASCII and need no decoding. Each flagged byte that is not
// inside a character already decoded starts one; on_character sees its code
// point. Returns false at the first invalid sequence.
template <class ChunkFlags, class OnCharacter>
bool walk_flagged_characters(Bytes p, std::size_t n, ChunkFlags flags, OnCharacter on_character) {
  std::size_t i = 0;
  while (n - i >= kChunkBytes) {
    unsigned flagged = flags(p + i);
    std::size_t covered = i;  // first byte not yet part of a decoded character
    while (flagged != 0) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(flagged));
      flagged &= flagged - 1;
      if (at < covered) continue;  // a continuation byte of the previous character
      const Utf8Step step = utf8_step(p, n, at);
      if (!step.valid) return false;
      on_character(step.code_point);
      covered = at + step.length;
    }
    i = std::max(i + kChunkBytes, covered);
  }
  while (i < n) {
    const Utf8Step step = utf8_step(p, n, i);
    if (!step.valid) return false;
    on_character(step.code_point);
    i += step.length;
  }
  return true;
}

// What one pass over a whole input found: whether it is valid UTF-8 and, when
// the screen was asked for, whether every character passes the encoding
// detector's screen (no control below U+0020 other than U+0009..U+000D, nothing
// in U+007F..U+009F, no noncharacter U+FDD0..U+FDEF or U+xFFFE/U+xFFFF). The
// screen's answer means nothing for invalid input.
struct Utf8Verdict {
  bool valid = false;
  bool detectable = false;
};

enum class DetectionScreen : bool { Skip, Apply };

// The AVX2 form of the walk: 32 bytes per step, every byte checked by table
// lookups on nibbles, with no decoding per character. Only for processors
// where cpu_has_avx2() holds.
Utf8Verdict scan_utf8_avx2(Bytes p, std::size_t n, DetectionScreen screen);

}  // namespace tarnwick::utf8_scan
