// The screen decoded text must pass to be edited as text rather than as binary.
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/memory.h"
#include "content/classify.h"

namespace tarnwick {

namespace {

constexpr std::size_t kChunkBytes = 16;

bool is_allowed_control(unsigned char byte) { return byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r'; }

#if defined(__SSE2__)
// Bit k set when byte k needs a closer look: a control other than TAB, LF, FF,
// CR, the byte 7F, or C2, the lead byte of U+0080..U+00BF.
unsigned suspicious_bytes(const unsigned char* chunk) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
  const __m128i control = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-1)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x20)));
  const __m128i spacing = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\t')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\f')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
  const __m128i other = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)), _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xC2))));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_andnot_si128(spacing, control), other)));
}
#endif

#if defined(__x86_64__)
__attribute__((target("avx2"), always_inline)) inline __m256i screen_byte(int value) { return _mm256_set1_epi8(static_cast<char>(value)); }

// Nonzero bytes that fail the screen among the 32 at `at`; reads one byte more.
__attribute__((target("avx2"), always_inline)) inline __m256i failing_bytes(const unsigned char* at) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 1));
  // Signed compares: bytes from 80 up are negative and no control.
  const __m256i control = _mm256_and_si256(_mm256_cmpgt_epi8(screen_byte(0x20), v), _mm256_cmpgt_epi8(v, screen_byte(-1)));
  const __m256i allowed = _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(v, screen_byte('\t')), _mm256_cmpeq_epi8(v, screen_byte('\n'))),
      _mm256_or_si256(_mm256_cmpeq_epi8(v, screen_byte('\f')), _mm256_cmpeq_epi8(v, screen_byte('\r'))));
  const __m256i c1 = _mm256_and_si256(
      _mm256_cmpeq_epi8(v, screen_byte(0xC2)),
      _mm256_cmpeq_epi8(_mm256_min_epu8(next, screen_byte(0x9F)), next));  // next <= 9F
  return _mm256_or_si256(_mm256_or_si256(_mm256_andnot_si256(allowed, control), _mm256_cmpeq_epi8(v, screen_byte(0x7F))), c1);
}

__attribute__((target("avx2"))) bool passes_text_screen_avx2(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  // Two steps per round, one test: text that passes is the common case.
  for (; size - i >= 2 * 32 + 1; i += 2 * 32) {
    const __m256i failing = _mm256_or_si256(failing_bytes(bytes + i), failing_bytes(bytes + i + 32));
    if (!_mm256_testz_si256(failing, failing)) return false;
  }
  return passes_text_screen_narrow(text.substr(i));
}
#endif

}  // namespace

bool passes_text_screen(std::string_view text) {
#if defined(__x86_64__)
  if (cpu_has_avx2()) return passes_text_screen_avx2(text);
#endif
  return passes_text_screen_narrow(text);
}

// The text is valid UTF-8 (it comes from the decoder), so the C1 controls
// U+0080..U+009F are exactly the pairs C2 80..C2 9F.
bool passes_text_screen_narrow(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
#if defined(__SSE2__)
    if (size - i >= kChunkBytes) {
      const unsigned suspicious = suspicious_bytes(bytes + i);
      if (suspicious == 0) {
        i += kChunkBytes;
        continue;
      }
      i += static_cast<std::size_t>(std::countr_zero(suspicious));
    }
#endif
    const unsigned char byte = bytes[i];
    if (byte < 0x20 && !is_allowed_control(byte)) return false;
    if (byte == 0x7F) return false;
    if (byte == 0xC2 && i + 1 < size && bytes[i + 1] < 0xA0) return false;
    ++i;
  }
  return true;
}

}  // namespace tarnwick
