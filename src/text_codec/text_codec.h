// Text encodings: the encoding table, byte-order marks, detection, exact conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

// Every input and output of a conversion is bounded by this (inclusive).
inline constexpr std::size_t kTextConversionLimitBytes = std::size_t{128} << 20;
// The Auto detector's plausibility tests look at no more code units than this.
inline constexpr std::size_t kPlausibilityUnits = 4096;

// In table order; the numeric values are the request's encoding-kind codes.
enum class EncodingKind : std::int32_t {
  Auto = 0,
  Utf8 = 1,
  Utf16Le = 2,
  Utf16Be = 3,
  Utf32Le = 4,
  Utf32Be = 5,
  CodePage = 6,
};

// The request's two signed 32-bit codes: the kind and, for a code page, its
// Windows code-page number (0 otherwise).
struct EncodingChoice {
  EncodingKind kind = EncodingKind::Auto;
  std::int32_t code_page = 0;
  bool operator==(const EncodingChoice&) const = default;
};

struct EncodingRow {
  std::string_view label;
  EncodingKind kind;
  std::int32_t code_page;       // 0 for the Unicode rows and Auto
  std::string_view iconv_name;  // empty for the Unicode rows and Auto
};

// The 56 rows in display order.
std::span<const EncodingRow> encoding_table();
EncodingChoice encoding_choice_for_row(std::size_t row_index);

// "UTF-8", "Windows-1252 (Western European)", "code page {n}", "unknown encoding".
std::string encoding_display_name(EncodingChoice choice);

// The table's label for a concrete choice (Auto's own row included); none when
// the choice is not in the table.
std::optional<std::string_view> encoding_label(EncodingChoice choice);

struct DecodedText {
  std::string text;        // valid UTF-8, no byte-order mark
  EncodingChoice encoding;  // concrete: never Auto
  bool had_byte_order_mark = false;
};

// decode_text without a copy where none is needed: text that is already UTF-8
// stays a view into the input bytes (which must outlive it); converted text is owned.
struct DecodedTextView {
  std::string_view unconverted;
  std::optional<std::string> converted;
  EncodingChoice encoding;
  bool had_byte_order_mark = false;

  std::string_view text() const { return converted ? std::string_view(*converted) : unconverted; }
};

enum class ByteOrderMark : bool { Omit = false, Write = true };

struct DetectedMark {
  EncodingKind kind;
  std::size_t length;
};

Result<DecodedText> decode_text(std::string_view bytes, EncodingChoice choice);
// lent, when given, is a buffer (such as the previous file's converted text)
// whose memory a Unicode conversion takes for its text instead of fresh memory,
// which is slower to fill the first time; the string is left empty then.
Result<DecodedTextView> decode_text_view(std::string_view bytes, EncodingChoice choice, std::string* lent = nullptr);
Result<std::string> encode_text(std::string_view text, EncodingKind kind, std::int32_t code_page,
                                ByteOrderMark mark);
Result<std::string> iconv_name_for_code_page(std::int32_t code_page);
Result<std::string> convert_with_iconv(std::string_view bytes, const std::string& from_name,
                                       const std::string& to_name);
std::optional<DetectedMark> detect_byte_order_mark(std::string_view bytes);
bool is_detectable_text(std::string_view text);

// The plausibility tests of the Auto detector for input without a byte-order mark.
bool is_plausible_utf16(std::string_view bytes, EncodingKind kind);
bool is_plausible_utf32(std::string_view bytes, EncodingKind kind);

}  // namespace tarnwick
