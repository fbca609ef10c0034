// Large buffers: huge-page advice is only advice, and never costs a byte.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/memory.h"

namespace tarnwick {
namespace {

// Over a range the kernel refuses (a hole that is not mapped, so madvise
// answers ENOMEM) nothing fails and the mapped bytes stay; buffers grown with
// the advice keep what they held.
TEST(LargeBuffers, AdviceNeverFailsNorChangesBytes) {
  const std::size_t size = 8 * kHugePageBytes;
  void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  auto* bytes = static_cast<char*>(mapped);
  std::memset(bytes, 'm', size);
  ASSERT_EQ(::munmap(bytes + 3 * kHugePageBytes, kHugePageBytes), 0);
  advise_huge_pages(bytes + 1, size - 2);
  EXPECT_EQ(std::count(bytes, bytes + 3 * kHugePageBytes, 'm'), static_cast<std::ptrdiff_t>(3 * kHugePageBytes));
  EXPECT_EQ(std::count(bytes + 4 * kHugePageBytes, bytes + size, 'm'), static_cast<std::ptrdiff_t>(4 * kHugePageBytes));
  ASSERT_EQ(::munmap(bytes, 3 * kHugePageBytes), 0);
  ASSERT_EQ(::munmap(bytes + 4 * kHugePageBytes, 4 * kHugePageBytes), 0);

  std::string buffer(5u << 20, 'k');
  buffer[12345] = 'x';
  ASSERT_TRUE(reserve_large(buffer, 40u << 20));
  ASSERT_TRUE(resize_for_overwrite(buffer, 48u << 20));
  EXPECT_EQ(buffer.size(), 48u << 20);
  EXPECT_EQ(buffer[12345], 'x');
  EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + (5 << 20), 'k'), (5 << 20) - 1);
}

}  // namespace
}  // namespace tarnwick
