// The end of the process for a broken internal invariant.
#include "common/verify.h"

#include <cstdio>
#include <cstdlib>

namespace tarnwick::detail {

void verify_failed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "Internal check failed: %s (%s:%d)\n", condition, file, line);
  std::abort();
}

}  // namespace tarnwick::detail
