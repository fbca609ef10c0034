// Shared text helpers: the path form of messages, system error texts, saturating sums.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/utf8.h"  // the paths in messages are shown through lossy_utf8

namespace tarnwick {

// "{description} (os error {n})" for a system error number.
std::string os_error_text(int error_number);

// "{message}: {detail}\nPath: {path}", the path shown with invalid UTF-8 as U+FFFD.
std::string path_form(std::string_view message, std::string_view detail, std::string_view path);

// "{message}\nPath: {path}": the path form of a message that has no detail.
std::string path_line(std::string_view message, std::string_view path);

// path_form with the detail being the system error text of error_number.
std::string path_error(std::string_view message, int error_number, std::string_view path);

// "0x" and upper-case hexadecimal digits without leading zeros, as offsets print.
std::string hex_offset(std::uint64_t value);

// Saturating arithmetic for size sums.
constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}
constexpr std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
  return (a != 0 && b > UINT64_MAX / a) ? UINT64_MAX : a * b;
}

}  // namespace tarnwick
