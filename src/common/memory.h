// Large buffers that are about to be written whole, and the processor's
// vector width: the two things that decide how fast content moves in memory.
#pragma once

#include <cstddef>
#include <string>

#include "common/types.h"

namespace tarnwick {

// The size of a transparent huge page on x86-64 and arm64.
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Asks the kernel to back the whole 2 MiB pages inside [data, data + size) with
// huge pages, so that the first touch of fresh memory costs one fault per 2 MiB
// instead of 512. Only advice: a kernel without transparent huge pages, or
// with them switched off, refuses it and nothing changes.
void advise_huge_pages(void* data, std::size_t size);

// Resizes without initialising the new bytes (the caller overwrites them all),
// advising huge pages for a large buffer; false when the memory cannot be had.
[[nodiscard]] bool resize_for_overwrite(std::string& buffer, std::size_t size);

// Fallible reservation that advises huge pages for the capacity beyond the
// current contents, before anything is written there.
[[nodiscard]] bool reserve_large(std::string& buffer, std::size_t capacity);

// Whether this processor runs AVX2 code; the scanners choose their width once.
bool cpu_has_avx2();

}  // namespace tarnwick
