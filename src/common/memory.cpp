// Huge-page advice for large buffers and the processor's vector width.
#include "common/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace tarnwick {

void advise_huge_pages(void* data, std::size_t size) {
  // Below two pages the advice can cover little more than one page, if any.
  if (size < 2 * kHugePageBytes) return;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kHugePageBytes - 1) & ~(std::uintptr_t{kHugePageBytes} - 1);
  const std::uintptr_t last = (begin + size) & ~(std::uintptr_t{kHugePageBytes} - 1);
  if (first >= last) return;
  // The result is deliberately unused: a refusal (EINVAL without transparent
  // huge pages) leaves ordinary pages, which are correct, only slower.
  (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

bool resize_for_overwrite(std::string& buffer, std::size_t size) {
  // Returns the wanted size rather than the one passed in: g++ 12's library
  // passes the grown capacity there, not the requested size.
  return try_allocate([&] {
    buffer.resize_and_overwrite(size, [size](char* data, std::size_t) {
      // The advice must come before the first write: pages already faulted
      // in stay small.
      advise_huge_pages(data, size);
      return size;
    });
  });
}

bool reserve_large(std::string& buffer, std::size_t capacity) {
  if (!try_reserve(buffer, capacity)) return false;
  advise_huge_pages(buffer.data() + buffer.size(), buffer.capacity() - buffer.size());
  return true;
}

bool cpu_has_avx2() {
  static const bool supported = [] {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
  }();
  return supported;
}

}  // namespace tarnwick
