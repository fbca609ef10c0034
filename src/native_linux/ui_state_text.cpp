// Small UTF-8 helpers of the screen logic: blank tests, depth parsing,
// control-character filtering and character boundaries.
#include <charconv>

#include "native_linux/ui_state.h"

namespace tarnwick {
namespace {

struct DecodedPoint {
  char32_t code = 0;
  std::size_t length = 1;
};

// Decodes one code point; an invalid byte counts as one U+FFFD of length 1.
DecodedPoint decode_at(std::string_view text, std::size_t offset) {
  const auto lead = static_cast<unsigned char>(text[offset]);
  std::size_t length = 0;
  char32_t code = 0;
  if (lead < 0x80) return {lead, 1};
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return {0xFFFD, 1};
  }
  if (offset + length > text.size()) return {0xFFFD, 1};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[offset + i]);
    if ((next & 0xC0) != 0x80) return {0xFFFD, 1};
    code = (code << 6) | (next & 0x3F);
  }
  return {code, length};
}

bool is_control(char32_t code) { return code <= 0x1F || (code >= 0x7F && code <= 0x9F); }

bool is_unicode_white_space(char32_t code) {
  return (code >= 0x09 && code <= 0x0D) || code == 0x20 || code == 0x85 || code == 0xA0 ||
         code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x2028 || code == 0x2029 ||
         code == 0x202F || code == 0x205F || code == 0x3000;
}

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

bool is_blank(std::string_view text) {
  for (std::size_t offset = 0; offset < text.size();) {
    const DecodedPoint point = decode_at(text, offset);
    if (!is_unicode_white_space(point.code)) return false;
    offset += point.length;
  }
  return true;
}

std::optional<std::uint64_t> parse_depth(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string strip_control_characters(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t offset = 0; offset < text.size();) {
    const DecodedPoint point = decode_at(text, offset);
    if (!is_control(point.code)) kept.append(text.substr(offset, point.length));
    offset += point.length;
  }
  return kept;
}

bool contains_control_character(std::string_view text) {
  for (std::size_t offset = 0; offset < text.size();) {
    const DecodedPoint point = decode_at(text, offset);
    if (is_control(point.code)) return true;
    offset += point.length;
  }
  return false;
}

std::size_t clamp_to_boundary(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) return text.size();
  while (offset > 0 && is_continuation(text[offset])) --offset;
  return offset;
}

std::size_t previous_boundary(std::string_view text, std::size_t offset) {
  offset = clamp_to_boundary(text, offset);
  if (offset == 0) return 0;
  return clamp_to_boundary(text, offset - 1);
}

std::size_t next_boundary(std::string_view text, std::size_t offset) {
  offset = clamp_to_boundary(text, offset);
  if (offset >= text.size()) return text.size();
  ++offset;
  while (offset < text.size() && is_continuation(text[offset])) ++offset;
  return offset;
}

std::string_view field_placeholder(std::size_t field) {
  static constexpr std::array<std::string_view, kFieldCount> kPlaceholders{
      "Enter the full path to a file or folder",
      "Literal text to find",
      "An empty value removes matches",
      "0",
      ".txt, .md, <none>",
      "Folder path; press Enter to navigate",
      "Choose an existing folder outside the selected target",
  };
  return field < kFieldCount ? kPlaceholders[field] : std::string_view{};
}

}  // namespace tarnwick
