// The program's one UTF-8 module: strict decoding, the fast validator, the
// lossy form for display, character boundaries, Unicode white space, control
// characters and ASCII lower-casing.
//
// Decoding is strict everywhere: no overlong forms, no surrogates, nothing above
// U+10FFFF. Bytes that start no valid character are a "maximal invalid subpart"
// (the Unicode standard's unit for replacement); only lossy_utf8 turns them into
// U+FFFD, and only for display. Everything else keeps them as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// One step through UTF-8: the valid character at the position with its length,
// or, where none starts, the length of the maximal invalid subpart (at least 1).
struct Utf8Step {
  char32_t code_point = 0;  // U+FFFD for an invalid subpart
  std::uint8_t length = 1;
  bool valid = false;
};

inline Utf8Step utf8_step(const unsigned char* bytes, std::size_t size, std::size_t at) {
  const unsigned lead = bytes[at];
  if (lead < 0x80) return Utf8Step{lead, 1, true};
  unsigned needed = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return Utf8Step{0xFFFD, 1, false};
  }
  const std::size_t available = size - at - 1;
  for (unsigned k = 1; k <= needed; ++k) {
    if (k > available) return Utf8Step{0xFFFD, static_cast<std::uint8_t>(k), false};
    const unsigned next = bytes[at + k];
    if (next < low || next > high) return Utf8Step{0xFFFD, static_cast<std::uint8_t>(k), false};
    value = (value << 6) | (next & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return Utf8Step{value, static_cast<std::uint8_t>(needed + 1), true};
}

inline Utf8Step utf8_step(std::string_view text, std::size_t at) {
  return utf8_step(reinterpret_cast<const unsigned char*>(text.data()), text.size(), at);
}

struct DecodedCharacter {
  char32_t code_point;
  std::size_t length;  // bytes
};

// The character starting at bytes[at], or nothing when no valid UTF-8 sequence starts there.
inline std::optional<DecodedCharacter> decode_utf8_at(std::string_view bytes, std::size_t at) {
  const Utf8Step step = utf8_step(bytes, at);
  if (!step.valid) return std::nullopt;
  return DecodedCharacter{step.code_point, step.length};
}

// --- encoding a Unicode scalar value --------------------------------------------

inline std::size_t utf8_length(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

// Writes utf8_length(c) bytes at out; returns the end.
inline char* put_utf8(char* out, char32_t c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

void append_utf8(std::string& out, char32_t c);

// --- validation -------------------------------------------------------------------

// Strict validation, sixteen bytes at a time over ASCII.
bool is_valid_utf8(std::string_view bytes);

inline bool is_ascii(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Replaces every maximal invalid subpart with U+FFFD, for display only.
std::string lossy_utf8(std::string_view bytes);

// --- character boundaries of valid UTF-8 --------------------------------------

inline bool is_utf8_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Number of code points (continuation bytes are not counted).
inline std::uint64_t count_code_points(std::string_view text) {
  std::uint64_t count = 0;
  for (char c : text) count += is_utf8_continuation(c) ? 0 : 1;
  return count;
}

// The largest character boundary not after `offset` (clamped to the text).
inline std::size_t floor_boundary(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) return text.size();
  while (offset > 0 && is_utf8_continuation(text[offset])) --offset;
  return offset;
}

// Byte length of the character starting at `offset` (1 for a stray byte).
inline std::size_t character_length(std::string_view text, std::size_t offset) {
  std::size_t end = offset + 1;
  while (end < text.size() && is_utf8_continuation(text[end])) ++end;
  return end - offset;
}

// The boundary before / after the character at or around `offset`.
std::size_t previous_boundary(std::string_view text, std::size_t offset);
std::size_t next_boundary(std::string_view text, std::size_t offset);

// --- character classes ----------------------------------------------------------

// The White_Space property of the Unicode Character Database.
bool is_unicode_white_space(char32_t code_point);
// Without leading and trailing Unicode white space; invalid bytes are not space.
std::string_view trim_unicode_white_space(std::string_view text);
bool contains_unicode_white_space(std::string_view text);

// U+0000-U+001F and U+007F-U+009F.
bool is_control_character(char32_t code_point);
bool contains_control_character(std::string_view text);

// --- ASCII case (A-Z and a-z only; every other byte stays) ------------------------

constexpr bool is_ascii_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_ascii_lower(char c) { return c >= 'a' && c <= 'z'; }
constexpr char ascii_lower(char c) { return is_ascii_upper(c) ? static_cast<char>(c + ('a' - 'A')) : c; }
constexpr char ascii_upper(char c) { return is_ascii_lower(c) ? static_cast<char>(c - ('a' - 'A')) : c; }
inline void lower_ascii_in_place(std::string& text) {
  for (char& c : text) c = ascii_lower(c);
}
inline void upper_ascii_in_place(std::string& text) {
  for (char& c : text) c = ascii_upper(c);
}

}  // namespace tarnwick
