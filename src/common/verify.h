// VERIFY(condition): an internal invariant, checked in every build. A broken one
// ends the process at once, naming where, instead of running on into undefined
// behaviour (an empty optional read, an index past the end). Bad input is never
// VERIFYed: it is a Result.
#pragma once

namespace tarnwick::detail {
[[noreturn]] void verify_failed(const char* condition, const char* file, int line);
}  // namespace tarnwick::detail

#define VERIFY(...) \
  ((__VA_ARGS__) ? static_cast<void>(0) : ::tarnwick::detail::verify_failed(#__VA_ARGS__, __FILE__, __LINE__))
