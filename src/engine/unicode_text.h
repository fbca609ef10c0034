// Unicode helpers of the engine: UTF-8 decoding, white space, full lower-casing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

struct DecodedCharacter {
  char32_t code_point;
  std::size_t length;  // bytes
};
// The character starting at bytes[at], or nothing when no valid UTF-8 sequence starts there.
std::optional<DecodedCharacter> decode_utf8_at(std::string_view bytes, std::size_t at);

// The White_Space property of the Unicode Character Database.
bool is_unicode_white_space(char32_t code_point);
// Without leading and trailing Unicode white space (the text must be valid UTF-8 there).
std::string_view trim_unicode_white_space(std::string_view text);
bool contains_unicode_white_space(std::string_view text);

// Full Unicode lower-casing (one-to-many mappings and the final-sigma rule) of
// every valid UTF-8 run; bytes that are not valid UTF-8 are kept as they are,
// so that names differing only there stay distinct.
std::string lower_case_key(std::string_view bytes);
// The same key written into out (cleared first), so that a caller can reuse one buffer.
void lower_case_key_into(std::string_view bytes, std::string& out);

}  // namespace tarnwick
