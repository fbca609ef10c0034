// The screen decoded text must pass to be edited as text rather than as binary.
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

}  // namespace

// The text is valid UTF-8 (it comes from the decoder), so the C1 controls
// U+0080..U+009F are exactly the pairs C2 80..C2 9F.
bool passes_text_screen(std::string_view text) {
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
