// Shared text helpers: the path form of messages and system error texts.
#include "common/text.h"

#include <cstdio>
#include <cstring>

#include "common/utf8.h"

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

std::string path_line(std::string_view message, std::string_view path) {
  std::string text;
  text.reserve(message.size() + path.size() + 8);
  text.append(message).append("\nPath: ").append(lossy_utf8(path));
  return text;
}

std::string path_error(std::string_view message, int error_number, std::string_view path) {
  return path_form(message, os_error_text(error_number), path);
}

std::string hex_offset(std::uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
  return buffer;
}

}  // namespace tarnwick
