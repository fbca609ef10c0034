// Fallible sizing of conversion buffers: a failed allocation is a value, not a crash.
#pragma once

#include <string>

#include "common/memory.h"
#include "common/types.h"

namespace tarnwick {

// Resizes with zero-filled new bytes; false when the memory cannot be had.
[[nodiscard]] inline bool resize_zero_filled(std::string& buffer, std::size_t size) {
  return reserve_large(buffer, size) && try_allocate([&] { buffer.resize(size); });
}

}  // namespace tarnwick
