// Small UTF-8 walking helpers for text that is already valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnwick {

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

}  // namespace tarnwick
