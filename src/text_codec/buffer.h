// Fallible sizing of conversion buffers: a failed allocation is a value, not a crash.
#pragma once

#include <string>

#include "common/types.h"

namespace tarnwick {

// Resizes without initialising the new bytes (the caller overwrites them all);
// false when the memory cannot be had.
[[nodiscard]] inline bool resize_for_overwrite(std::string& buffer, std::size_t size) {
  // Returns the wanted size rather than the one passed in: g++ 12's library
  // passes the grown capacity there, not the requested size.
  return try_allocate([&] { buffer.resize_and_overwrite(size, [size](char*, std::size_t) { return size; }); });
}

// Resizes with zero-filled new bytes; false when the memory cannot be had.
[[nodiscard]] inline bool resize_zero_filled(std::string& buffer, std::size_t size) {
  return try_allocate([&] { buffer.resize(size); });
}

}  // namespace tarnwick
