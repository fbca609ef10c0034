// Shared text helpers: the path form of messages, system error texts, UTF-8 checks.
#include "common/text.h"

#include <cstring>

namespace tarnwick {

std::string os_error_text(int error_number) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not live in buffer.
  const char* description = strerror_r(error_number, buffer, sizeof buffer);
  return std::string(description) + " (os error " + std::to_string(error_number) + ")";
}

std::string path_form(std::string_view message, std::string_view detail, std::string_view path) {
  std::string text;
  text.reserve(message.size() + detail.size() + path.size() + 12);
  text.append(message).append(": ").append(detail).append("\nPath: ").append(lossy_utf8(path));
  return text;
}

std::string path_error(std::string_view message, int error_number, std::string_view path) {
  return path_form(message, os_error_text(error_number), path);
}

namespace {

// Length of the valid UTF-8 sequence starting at bytes[i], or the length of the
// maximal invalid subpart (at least 1) negated.
int utf8_sequence_length(std::string_view bytes, std::size_t i) {
  const auto byte_at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = byte_at(i);
  if (lead < 0x80) return 1;
  int needed = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    needed = 2;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    needed = 3;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return -1;
  }
  for (int k = 1; k <= needed; ++k) {
    if (i + k >= bytes.size()) return -k;
    const unsigned char next = byte_at(i + k);
    const unsigned char lo = k == 1 ? low : 0x80;
    const unsigned char hi = k == 1 ? high : 0xBF;
    if (next < lo || next > hi) return -k;
  }
  return needed + 1;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const int length = utf8_sequence_length(bytes, i);
    if (length < 0) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

std::string lossy_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() + 16);
  for (std::size_t i = 0; i < bytes.size();) {
    const int length = utf8_sequence_length(bytes, i);
    if (length > 0) {
      text.append(bytes.substr(i, static_cast<std::size_t>(length)));
      i += static_cast<std::size_t>(length);
    } else {
      text.append("\xEF\xBF\xBD");
      i += static_cast<std::size_t>(-length);
    }
  }
  return text;
}

}  // namespace tarnwick
