// The UTF-8 module: validation, the lossy display form, boundaries and character classes.
#include "common/utf8.h"

#include "common/memory.h"
#include "common/utf8_scan.h"

namespace tarnwick {

namespace {

// True when some valid character of the text is one the test picks.
template <class Test>
bool contains_character(std::string_view text, Test picks) {
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Step step = utf8_step(text, at);
    if (step.valid && picks(step.code_point)) return true;
    at += step.length;
  }
  return false;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  // Short texts (names, literals) are mostly ASCII and done in a step or two either way.
  if (bytes.size() >= 64 && cpu_has_avx2()) {
    return utf8_scan::scan_utf8_avx2(reinterpret_cast<utf8_scan::Bytes>(bytes.data()), bytes.size(),
                                     utf8_scan::DetectionScreen::Skip)
        .valid;
  }
  return utf8_scan::walk_flagged_characters(
      reinterpret_cast<utf8_scan::Bytes>(bytes.data()), bytes.size(),
      [](utf8_scan::Bytes chunk) { return utf8_scan::non_ascii_bytes(chunk); }, [](char32_t) {});
}

std::string lossy_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() + 16);
  for (std::size_t i = 0; i < bytes.size();) {
    const Utf8Step step = utf8_step(bytes, i);
    if (step.valid) {
      text.append(bytes.substr(i, step.length));
    } else {
      text.append("\xEF\xBF\xBD");
    }
    i += step.length;
  }
  return text;
}

std::size_t previous_boundary(std::string_view text, std::size_t offset) {
  offset = floor_boundary(text, offset);
  if (offset == 0) return 0;
  return floor_boundary(text, offset - 1);
}

std::size_t next_boundary(std::string_view text, std::size_t offset) {
  offset = floor_boundary(text, offset);
  if (offset >= text.size()) return text.size();
  return offset + character_length(text, offset);
}

bool is_unicode_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_unicode_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const Utf8Step step = utf8_step(text, begin);
    if (!step.valid || !is_unicode_white_space(step.code_point)) break;
    begin += step.length;
  }
  // Scan forward remembering where the last non-space character ended: UTF-8
  // cannot be decoded backwards reliably when it might be invalid.
  std::size_t end = begin;
  for (std::size_t at = begin; at < text.size();) {
    const Utf8Step step = utf8_step(text, at);
    if (!step.valid || !is_unicode_white_space(step.code_point)) end = at + step.length;
    at += step.length;
  }
  return text.substr(begin, end - begin);
}

bool contains_unicode_white_space(std::string_view text) { return contains_character(text, is_unicode_white_space); }

bool is_control_character(char32_t code_point) {
  return code_point <= 0x1F || (code_point >= 0x7F && code_point <= 0x9F);
}

bool contains_control_character(std::string_view text) { return contains_character(text, is_control_character); }

void append_utf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, put_utf8(bytes, c));
}

}  // namespace tarnwick
