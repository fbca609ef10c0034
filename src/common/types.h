// Small vocabulary shared by every subsystem.
#pragma once

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>

namespace tarnwick {

// One complete sentence for the preview's notice list, usually ending with a path.
using Notice = std::string;

// false = ASCII letters A-Z and a-z compare alike; nothing else is folded.
enum class MatchCase : bool { Ignore = false, Exact = true };

// Yes = each match's replacement takes the case of the match's ASCII letters
// (lower, upper or capitalised); only meaningful while MatchCase is Ignore.
enum class PreserveCase : bool { No = false, Yes = true };

// Runs an allocating step; false instead of an exception when memory cannot be had.
template <class Allocate>
[[nodiscard]] bool try_allocate(Allocate&& allocate) {
  try {
    allocate();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
}

// Fallible reservation.
template <class Buffer>
[[nodiscard]] bool try_reserve(Buffer& buffer, std::size_t capacity) {
  return try_allocate([&] { buffer.reserve(capacity); });
}

}  // namespace tarnwick
