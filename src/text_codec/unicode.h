// Internal Unicode transcoders and scanners of the encoding subsystem.
#pragma once

#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick::unicode {

enum class ByteOrder : bool { Little, Big };

enum class Utf8Class { Invalid, Detectable, NotDetectable };

// Validation and the detection screen in one pass: Invalid takes precedence.
Utf8Class classify_utf8(std::string_view bytes);
// The same, character by character: the form for processors without AVX2,
// and the reference the vector form is tested against.
Utf8Class classify_utf8_by_character(std::string_view bytes);

// The body after any byte-order mark; the result is UTF-8, written into the
// memory of the lent buffer when one is given (see decode_text_view).
Result<std::string> decode_utf16(std::string_view body, ByteOrder order, std::string* lent = nullptr);
Result<std::string> decode_utf32(std::string_view body, ByteOrder order, std::string* lent = nullptr);

// text must be valid UTF-8; mark is written first (empty for none).
Result<std::string> encode_utf16(std::string_view text, ByteOrder order, std::string_view mark);
Result<std::string> encode_utf32(std::string_view text, ByteOrder order, std::string_view mark);

}  // namespace tarnwick::unicode
