// UTF-8 validation and the detection screen with AVX2, 32 bytes per step.
//
// Validation looks at each byte together with the three before it. Three
// 16-entry tables, indexed by the high nibble of the previous byte, its low
// nibble and the high nibble of the byte itself, each give a set of error
// kinds the pair could be; their AND is the set it is. What a pair cannot show
// (a third or fourth byte after a 3- or 4-byte lead) is checked against the
// bytes two and three back. Inputs too short for a whole step, and the end,
// go through a padded copy whose padding is spaces: valid, detectable ASCII
// that makes a character cut off at the end fail like any other too-short one.
#include <immintrin.h>

#include <cstring>

#include "common/utf8_scan.h"

namespace tarnwick::utf8_scan {

namespace {

// Every helper is folded into the scan loop, so the tables stay in registers.
#define TARNWICK_AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

constexpr std::size_t kStep = 32;
constexpr std::size_t kBehind = 3;  // bytes before a step that its checks read

// Error kinds of a (previous byte, byte) pair.
constexpr char kTooShort = 1 << 0;     // lead or ASCII, then ASCII or a lead, where a continuation was due
constexpr char kTooLong = 1 << 1;      // ASCII, then a continuation
constexpr char kOverlong3 = 1 << 2;    // E0 80..9F
constexpr char kTooLarge = 1 << 3;     // F4 90..BF, or F5..FF then 90..BF
constexpr char kSurrogate = 1 << 4;    // ED A0..BF
constexpr char kOverlong2 = 1 << 5;    // C0 or C1 then a continuation
constexpr char kTooLarge1000 = 1 << 6; // F5..FF then 80..8F
constexpr char kOverlong4 = 1 << 6;    // F0 80..8F
constexpr char kTwoConts = static_cast<char>(1 << 7);  // a continuation, then one (fine inside 3- and 4-byte characters)
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;  // kinds that do not depend on the low nibble

TARNWICK_AVX2_INLINE __m256i table(char b0, char b1, char b2, char b3, char b4, char b5, char b6,
                                              char b7, char b8, char b9, char b10, char b11, char b12, char b13,
                                              char b14, char b15) {
  return _mm256_setr_epi8(b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15, b0, b1, b2, b3,
                          b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15);
}

TARNWICK_AVX2_INLINE __m256i byte(int value) { return _mm256_set1_epi8(static_cast<char>(value)); }

TARNWICK_AVX2_INLINE __m256i high_nibbles(__m256i v) {
  return _mm256_and_si256(_mm256_srli_epi16(v, 4), byte(0x0F));
}

TARNWICK_AVX2_INLINE __m256i load(Bytes at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// Unsigned a <= b for every byte.
TARNWICK_AVX2_INLINE __m256i at_most(__m256i a, __m256i b) {
  return _mm256_cmpeq_epi8(_mm256_min_epu8(a, b), a);
}

struct Tables {
  __m256i previous_high, previous_low, current_high;
};

TARNWICK_AVX2_INLINE Tables make_tables() {
  const char lead4 = kTooShort | kTooLarge | kTooLarge1000 | kOverlong4;
  const char large = kCarry | kTooLarge | kTooLarge1000;
  const char cont_80 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
  const char cont_90 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
  const char cont_a0 = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
  return Tables{
      table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts, kTwoConts,
            kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort, kTooShort | kOverlong3 | kSurrogate, lead4),
      table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry, kCarry | kTooLarge,
            large, large, large, large, large, large, large, large, large | kSurrogate, large, large),
      table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, cont_80,
            cont_90, cont_a0, cont_a0, kTooShort, kTooShort, kTooShort, kTooShort),
  };
}

// Nonzero bytes where the 32 bytes at `at` (with the three before) break UTF-8.
TARNWICK_AVX2_INLINE __m256i step_errors(const Tables& tables, __m256i current, __m256i previous1,
                                                    __m256i previous2, __m256i previous3) {
  const __m256i kinds = _mm256_and_si256(
      _mm256_and_si256(_mm256_shuffle_epi8(tables.previous_high, high_nibbles(previous1)),
                       _mm256_shuffle_epi8(tables.previous_low, _mm256_and_si256(previous1, byte(0x0F)))),
      _mm256_shuffle_epi8(tables.current_high, high_nibbles(current)));
  // Bit 7 set where a 3-byte lead is two back or a 4-byte lead three back:
  // exactly there two continuations in a row are required rather than wrong.
  const __m256i third = _mm256_subs_epu8(previous2, byte(0xE0 - 0x80));
  const __m256i fourth = _mm256_subs_epu8(previous3, byte(0xF0 - 0x80));
  const __m256i required = _mm256_and_si256(_mm256_or_si256(third, fourth), byte(0x80));
  return _mm256_xor_si256(required, kinds);
}

// Nonzero bytes that are controls the detection screen refuses: below 20
// other than 09..0D, and 7F.
TARNWICK_AVX2_INLINE __m256i refused_ascii(__m256i current) {
  // Signed compares: bytes from 80 up are negative and no control.
  const __m256i control = _mm256_and_si256(_mm256_cmpgt_epi8(byte(0x20), current), _mm256_cmpgt_epi8(current, byte(-1)));
  const __m256i spacing = _mm256_and_si256(_mm256_cmpgt_epi8(current, byte(0x08)), _mm256_cmpgt_epi8(byte(0x0E), current));
  return _mm256_or_si256(_mm256_andnot_si256(spacing, control), _mm256_cmpeq_epi8(current, byte(0x7F)));
}

// Nonzero bytes that end a character above U+007F the detection screen
// refuses, assuming valid UTF-8.
TARNWICK_AVX2_INLINE __m256i refused_multibyte(__m256i current, __m256i previous1, __m256i previous2,
                                               __m256i previous3) {
  // U+0080..U+009F: C2 80..C2 9F.
  const __m256i c1 = _mm256_and_si256(_mm256_cmpeq_epi8(previous1, byte(0xC2)), at_most(current, byte(0x9F)));
  // U+FDD0..U+FDEF: EF B7 90..EF B7 AF.
  const __m256i fdd0 = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(previous2, byte(0xEF)), _mm256_cmpeq_epi8(previous1, byte(0xB7))),
      _mm256_and_si256(at_most(byte(0x90), current), at_most(current, byte(0xAF))));
  // U+xFFFE and U+xFFFF: EF BF BE/BF, or a 4-byte lead, a second byte ending
  // in 1111, then BF and BE/BF.
  const __m256i plane0 = _mm256_cmpeq_epi8(previous2, byte(0xEF));
  const __m256i other_planes =
      _mm256_and_si256(at_most(byte(0xF0), previous3),
                       _mm256_cmpeq_epi8(_mm256_and_si256(previous2, byte(0x0F)), byte(0x0F)));
  const __m256i ffff = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(previous1, byte(0xBF)), at_most(byte(0xBE), current)),
      _mm256_or_si256(plane0, other_planes));
  return _mm256_or_si256(c1, _mm256_or_si256(fdd0, ffff));
}

// Every refused character above U+007F starts with C2, EF or a 4-byte lead;
// most text has none of them, and its steps skip the closer look.
TARNWICK_AVX2_INLINE bool may_hold_refused_multibyte(__m256i previous1, __m256i previous2, __m256i previous3) {
  const __m256i leads = _mm256_or_si256(
      _mm256_or_si256(_mm256_cmpeq_epi8(previous1, byte(0xC2)), _mm256_cmpeq_epi8(previous2, byte(0xEF))),
      at_most(byte(0xF0), previous3));
  return !_mm256_testz_si256(leads, leads);
}

// One step over at[-3 .. 31]; false when the bytes break UTF-8.
TARNWICK_AVX2_INLINE bool check_step(const Tables& tables, Bytes at, DetectionScreen screen,
                                     __m256i& undetectable) {
  const __m256i current = load(at);
  const __m256i previous3 = load(at - 3);
  const bool screened = screen == DetectionScreen::Apply;
  if (screened) undetectable = _mm256_or_si256(undetectable, refused_ascii(current));
  // at[-3 .. 31] all ASCII: nothing to validate.
  if (_mm256_movemask_epi8(_mm256_or_si256(current, previous3)) == 0) return true;
  const __m256i previous1 = load(at - 1);
  const __m256i previous2 = load(at - 2);
  const __m256i errors = step_errors(tables, current, previous1, previous2, previous3);
  if (!_mm256_testz_si256(errors, errors)) return false;
  if (screened && may_hold_refused_multibyte(previous1, previous2, previous3))
    undetectable = _mm256_or_si256(undetectable, refused_multibyte(current, previous1, previous2, previous3));
  return true;
}

}  // namespace

__attribute__((target("avx2"))) Utf8Verdict scan_utf8_avx2(Bytes p, std::size_t n, DetectionScreen screen) {
  const Tables tables = make_tables();
  __m256i undetectable = _mm256_setzero_si256();
  std::size_t at = 0;
  if (n >= kStep) {
    // The first step has nothing before it: spaces stand in.
    unsigned char head[kBehind + kStep];
    std::memset(head, ' ', kBehind);
    std::memcpy(head + kBehind, p, kStep);
    if (!check_step(tables, head + kBehind, screen, undetectable)) return {};
    for (at = kStep; n - at >= kStep; at += kStep) {
      if (!check_step(tables, p + at, screen, undetectable)) return {};
    }
  }
  // The rest, after the three bytes before it, padded with spaces: at least
  // three follow the last byte, so a character cut off at the end is caught.
  unsigned char tail[kBehind + 2 * kStep];
  std::memset(tail, ' ', sizeof tail);
  const std::size_t behind = at < kBehind ? at : kBehind;
  if (behind + (n - at) > 0) std::memcpy(tail + kBehind - behind, p + at - behind, behind + (n - at));
  const std::size_t steps = (n - at + kBehind + kStep - 1) / kStep;
  for (std::size_t k = 0; k < steps; ++k) {
    if (!check_step(tables, tail + kBehind + k * kStep, screen, undetectable)) return {};
  }
  return Utf8Verdict{true, _mm256_testz_si256(undetectable, undetectable) != 0};
}

}  // namespace tarnwick::utf8_scan
