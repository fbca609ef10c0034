// Byte-order marks, detection screens and the UTF-16/UTF-32 transcoders.
#include "text_codec/unicode.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/memory.h"
#include "common/text.h"
#include "common/utf8.h"
#include "common/utf8_scan.h"
#include "text_codec/buffer.h"
#include "text_codec/codec_messages.h"
#include "text_codec/text_codec.h"

namespace tarnwick {

namespace {

using Bytes = const unsigned char*;
using utf8_scan::kChunkBytes;

#if defined(__SSE2__)
// Bit k set when byte k is not printable ASCII or one of TAB, LF, VT, FF, CR.
unsigned non_detectable_ascii_bytes(Bytes chunk) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk));
  // Signed compares: bytes of 80 and above are negative and fall outside both ranges.
  const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
  const __m128i spacing = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x08)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x0E)));
  return static_cast<unsigned>(~_mm_movemask_epi8(_mm_or_si128(printable, spacing))) & 0xFFFFu;
}
#else
unsigned non_detectable_ascii_bytes(Bytes chunk) {
  unsigned mask = 0;
  for (std::size_t k = 0; k < kChunkBytes; ++k) {
    const unsigned b = chunk[k];
    const bool accepted = (b >= 0x20 && b < 0x7F) || (b >= 0x09 && b <= 0x0D);
    mask |= (accepted ? 0u : 1u) << k;
  }
  return mask;
}
#endif

bool is_noncharacter(char32_t c) { return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE; }

bool is_detectable_character(char32_t c) {
  if (c < 0x20) return c >= 0x09 && c <= 0x0D;
  if (c >= 0x7F && c <= 0x9F) return false;
  return !is_noncharacter(c);
}

bool is_surrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

std::uint32_t read_unit(Bytes p, std::size_t width, unicode::ByteOrder order) {
  std::uint32_t value = 0;
  for (std::size_t k = 0; k < width; ++k) {
    const std::size_t index = order == unicode::ByteOrder::Little ? width - 1 - k : k;
    value = (value << 8) | p[index];
  }
  return value;
}

char* put_unit(char* out, std::uint32_t value, std::size_t width, unicode::ByteOrder order) {
  for (std::size_t k = 0; k < width; ++k) {
    const std::size_t shift = order == unicode::ByteOrder::Little ? 8 * k : 8 * (width - 1 - k);
    *out++ = static_cast<char>((value >> shift) & 0xFF);
  }
  return out;
}

// Writes decoded scalar values as UTF-8 into a buffer sized for the worst case,
// checking the 128 MiB bound before each character.
class Utf8Writer {
 public:
  // A lent buffer's memory is used, whatever text it held; it leaves the
  // lender, whose string is empty until the result is handed back.
  explicit Utf8Writer(std::string* lent) {
    if (lent == nullptr) return;
    text_ = std::move(*lent);
    lent_ = text_.capacity() > 0;
    text_.clear();
  }

  Result<void> open(std::size_t worst_case) {
    if (!resize_for_overwrite(text_, std::min(worst_case, kTextConversionLimitBytes)))
      return fail(codec_text::kNoMemory);
    return {};
  }
  Result<void> put(char32_t c) {
    const std::size_t length = utf8_length(c);
    if (written_ + length > kTextConversionLimitBytes) return fail(codec_text::kTooLarge);
    put_utf8(text_.data() + written_, c);
    written_ += length;
    return {};
  }
  std::string finish() {
    text_.resize(written_);
    // The worst case is reserved up front; give back what mostly-ASCII text
    // left unused, unless the buffer is to go back to its lender for the next text.
    if (!lent_ && text_.capacity() > 2 * written_ + 4096) text_.shrink_to_fit();
    return std::move(text_);
  }

 private:
  std::string text_;
  bool lent_ = false;
  std::size_t written_ = 0;
};

// Counts what a UTF-8 text becomes in UTF-16 or UTF-32: characters, and those above U+FFFF.
struct CharacterCounts {
  std::uint64_t characters = 0;
  std::uint64_t supplementary = 0;
};

CharacterCounts count_characters(std::string_view text) {
  CharacterCounts counts;
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    counts.characters += (b & 0xC0) != 0x80 ? 1 : 0;
    counts.supplementary += b >= 0xF0 ? 1 : 0;
  }
  return counts;
}

Result<std::string> encode_units(std::string_view text, unicode::ByteOrder order, std::string_view mark,
                                 std::size_t unit_width) {
  if (!is_valid_utf8(text)) return fail(codec_text::kInvalidUtf8);
  const CharacterCounts counts = count_characters(text);
  // UTF-16 spends a second unit on every supplementary character; UTF-32 never does.
  const std::uint64_t units =
      unit_width == 2 ? saturating_add(counts.characters, counts.supplementary) : counts.characters;
  const std::uint64_t size = saturating_add(mark.size(), saturating_mul(units, unit_width));
  if (size == UINT64_MAX) return fail(codec_text::kSizeOverflow);
  if (size > kTextConversionLimitBytes) return fail(codec_text::kTooLarge);

  std::string bytes;
  if (!resize_for_overwrite(bytes, static_cast<std::size_t>(size))) return fail(codec_text::kNoMemory);
  char* out = bytes.data();
  out = std::copy(mark.begin(), mark.end(), out);
  const auto* p = reinterpret_cast<Bytes>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Step step = utf8_step(p, text.size(), i);
    const char32_t c = step.code_point;
    i += step.length;
    if (unit_width == 4 || c < 0x10000) {
      out = put_unit(out, c, unit_width, order);
      continue;
    }
    const char32_t offset = c - 0x10000;
    out = put_unit(out, 0xD800 + (offset >> 10), 2, order);
    out = put_unit(out, 0xDC00 + (offset & 0x3FF), 2, order);
  }
  return bytes;
}

}  // namespace

namespace unicode {

Utf8Class classify_utf8(std::string_view bytes) {
  if (cpu_has_avx2()) {
    const utf8_scan::Utf8Verdict verdict = utf8_scan::scan_utf8_avx2(
        reinterpret_cast<Bytes>(bytes.data()), bytes.size(), utf8_scan::DetectionScreen::Apply);
    if (!verdict.valid) return Utf8Class::Invalid;
    return verdict.detectable ? Utf8Class::Detectable : Utf8Class::NotDetectable;
  }
  return classify_utf8_by_character(bytes);
}

Utf8Class classify_utf8_by_character(std::string_view bytes) {
  bool detectable = true;
  const bool valid = utf8_scan::walk_flagged_characters(
      reinterpret_cast<Bytes>(bytes.data()), bytes.size(),
      [](Bytes chunk) { return non_detectable_ascii_bytes(chunk); },
      [&](char32_t c) { detectable = detectable && is_detectable_character(c); });
  if (!valid) return Utf8Class::Invalid;
  return detectable ? Utf8Class::Detectable : Utf8Class::NotDetectable;
}

Result<std::string> decode_utf16(std::string_view body, ByteOrder order, std::string* lent) {
  if (body.size() % 2 != 0) return fail(codec_text::kUtf16Incomplete);
  const auto* p = reinterpret_cast<Bytes>(body.data());
  const std::size_t units = body.size() / 2;
  Utf8Writer writer(lent);
  TRY(writer.open(saturating_mul(units, 3)));  // one unit gives at most 3 bytes; a pair gives 4
  for (std::size_t u = 0; u < units; ++u) {
    const std::uint32_t unit = read_unit(p + 2 * u, 2, order);
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(codec_text::kUtf16Unpaired);
    if (unit < 0xD800 || unit > 0xDBFF) {
      TRY(writer.put(unit));
      continue;
    }
    if (u + 1 == units) return fail(codec_text::kUtf16Unpaired);
    const std::uint32_t low = read_unit(p + 2 * (u + 1), 2, order);
    if (low < 0xDC00 || low > 0xDFFF) return fail(codec_text::kUtf16Unpaired);
    TRY(writer.put(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
    ++u;
  }
  return writer.finish();
}

Result<std::string> decode_utf32(std::string_view body, ByteOrder order, std::string* lent) {
  if (body.size() % 4 != 0) return fail(codec_text::kUtf32Incomplete);
  const auto* p = reinterpret_cast<Bytes>(body.data());
  Utf8Writer writer(lent);
  TRY(writer.open(body.size()));  // four bytes in, at most four out
  for (std::size_t i = 0; i < body.size(); i += 4) {
    const std::uint32_t value = read_unit(p + i, 4, order);
    if (value > 0x10FFFF || is_surrogate(value)) return fail(codec_text::kUtf32Invalid);
    TRY(writer.put(value));
  }
  return writer.finish();
}

Result<std::string> encode_utf16(std::string_view text, ByteOrder order, std::string_view mark) {
  return encode_units(text, order, mark, 2);
}

Result<std::string> encode_utf32(std::string_view text, ByteOrder order, std::string_view mark) {
  return encode_units(text, order, mark, 4);
}

}  // namespace unicode

std::optional<DetectedMark> detect_byte_order_mark(std::string_view bytes) {
  const auto starts = [&](std::string_view mark) { return bytes.starts_with(mark); };
  using namespace std::string_view_literals;
  if (starts("\xFF\xFE\x00\x00"sv)) return DetectedMark{EncodingKind::Utf32Le, 4};
  if (starts("\x00\x00\xFE\xFF"sv)) return DetectedMark{EncodingKind::Utf32Be, 4};
  if (starts("\xEF\xBB\xBF"sv)) return DetectedMark{EncodingKind::Utf8, 3};
  if (starts("\xFF\xFE"sv)) return DetectedMark{EncodingKind::Utf16Le, 2};
  if (starts("\xFE\xFF"sv)) return DetectedMark{EncodingKind::Utf16Be, 2};
  return std::nullopt;
}

// Text that is not even UTF-8 is not detectable text either.
bool is_detectable_text(std::string_view text) { return unicode::classify_utf8(text) == unicode::Utf8Class::Detectable; }

bool is_plausible_utf32(std::string_view bytes, EncodingKind kind) {
  if (bytes.size() < 8 || bytes.size() % 4 != 0) return false;
  const auto* p = reinterpret_cast<Bytes>(bytes.data());
  const bool little = kind == EncodingKind::Utf32Le;
  const std::size_t units = std::min(bytes.size() / 4, kPlausibilityUnits);
  for (std::size_t u = 0; u < units; ++u) {
    Bytes unit = p + 4 * u;
    const unsigned top = little ? unit[3] : unit[0];
    const unsigned next = little ? unit[2] : unit[1];
    if (top != 0 || next > 0x10) return false;
  }
  return true;
}

bool is_plausible_utf16(std::string_view bytes, EncodingKind kind) {
  if (bytes.size() < 4 || bytes.size() % 2 != 0) return false;
  const auto* p = reinterpret_cast<Bytes>(bytes.data());
  const bool little = kind == EncodingKind::Utf16Le;
  const std::uint64_t units = std::min(bytes.size() / 2, kPlausibilityUnits);
  std::uint64_t high_zero = 0, low_zero = 0;
  for (std::size_t u = 0; u < units; ++u) {
    Bytes unit = p + 2 * u;
    high_zero += (little ? unit[1] : unit[0]) == 0 ? 1 : 0;
    low_zero += (little ? unit[0] : unit[1]) == 0 ? 1 : 0;
  }
  return high_zero >= 2 && 5 * high_zero >= 3 * units && 5 * low_zero <= units;
}

}  // namespace tarnwick
