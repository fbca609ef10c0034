// Failures are values: Result<T> carries the value or one complete user-facing text.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace tarnwick {

// [[nodiscard]]: a failure that nobody looks at is a failure reported as success.
template <class T>
class [[nodiscard]] Result : public std::expected<T, std::string> {
 public:
  using std::expected<T, std::string>::expected;

  // Without this, comparing two Results would take one of them for a value.
  friend bool operator==(const Result& a, const Result& b) {
    using Base = std::expected<T, std::string>;
    return static_cast<const Base&>(a) == static_cast<const Base&>(b);
  }
};

// Builds the failure side of any Result from a complete user-facing text.
[[nodiscard]] inline std::unexpected<std::string> fail(std::string message) {
  return std::unexpected<std::string>(std::move(message));
}

namespace detail {
template <class T, class E>
T take_value(std::expected<T, E>&& result) {
  return std::move(*result);
}
template <class E>
void take_value(std::expected<void, E>&&) {}
}  // namespace detail

}  // namespace tarnwick

// TRY(expr): evaluates a Result; on failure returns its text from the enclosing
// function, otherwise yields the value (nothing for Result<void>).
#define TRY(...)                                                        \
  ({                                                                    \
    auto tarnwick_try_result_ = (__VA_ARGS__);                          \
    if (!tarnwick_try_result_.has_value())                              \
      return ::tarnwick::fail(std::move(tarnwick_try_result_.error())); \
    ::tarnwick::detail::take_value(std::move(tarnwick_try_result_));    \
  })
