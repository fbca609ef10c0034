// Accepts ":N", ":N.S", "unix:N[.S]" and "unix/:N[.S]" with 1-5 digit numbers.
#include "native_linux/x11/display_name.h"

#include <array>

#include "common/utf8.h"

namespace tarnwick {

namespace {

constexpr std::string_view kUnsetMessage = "Open this app from a local X11 desktop.";
constexpr std::string_view kRemoteMessage = "A local Unix X11 display is required; remote displays are disabled.";
constexpr std::string_view kInvalidMessage = "The local X11 display name is invalid.";

bool is_display_number(std::string_view part) {
  if (part.empty() || part.size() > kMaxDisplayNumberDigits) return false;
  for (char c : part) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

Result<std::string> validate_display_name(std::optional<std::string_view> value) {
  if (!value || !is_valid_utf8(*value)) return fail(std::string(kUnsetMessage));
  if (value->empty()) return fail(std::string(kRemoteMessage));
  // Order matters: ":" is tried first, so "unix:" and "unix/:" are the only
  // other forms and a host name before the colon is refused as remote.
  constexpr std::array<std::string_view, 3> kPrefixes = {":", "unix:", "unix/:"};
  std::optional<std::string_view> rest;
  for (std::string_view prefix : kPrefixes) {
    if (value->starts_with(prefix)) {
      rest = value->substr(prefix.size());
      break;
    }
  }
  if (!rest) return fail(std::string(kRemoteMessage));
  const std::size_t dot = rest->find('.');
  const std::string_view display = rest->substr(0, dot);
  if (!is_display_number(display)) return fail(std::string(kInvalidMessage));
  if (dot != std::string_view::npos && !is_display_number(rest->substr(dot + 1))) {
    return fail(std::string(kInvalidMessage));  // also a second dot, which is no digit
  }
  return std::string(*value);
}

}  // namespace tarnwick
