// Small text helpers of the screen logic: blank tests, depth parsing,
// control-character filtering and the field placeholders.
#include <charconv>
#include <cstdlib>

#include "common/utf8.h"
#include "native_linux/ui/ui_state.h"

namespace tarnwick {

bool is_blank(std::string_view text) { return trim_unicode_white_space(text).empty(); }

std::optional<std::uint64_t> parse_depth(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string strip_control_characters(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t offset = 0; offset < text.size();) {
    // Invalid bytes are no control characters: they stay as they are.
    const Utf8Step step = utf8_step(text, offset);
    if (!step.valid || !is_control_character(step.code_point)) kept.append(text.substr(offset, step.length));
    offset += step.length;
  }
  return kept;
}

std::string expand_home(std::string_view path) {
  if (path != "~" && !path.starts_with("~/")) return std::string(path);
  // An unset, empty or relative HOME names no folder the user could mean.
  const char* home_value = std::getenv("HOME");
  if (home_value == nullptr || home_value[0] != '/') return std::string(path);
  std::string_view home = home_value;
  while (home.size() > 1 && home.back() == '/') home.remove_suffix(1);
  if (path == "~") return std::string(home);
  if (home == "/") return std::string(path.substr(1));
  return std::string(home).append(path.substr(1));
}

std::string_view field_placeholder(std::size_t field) {
  static constexpr std::array<std::string_view, kFieldCount> kPlaceholders{
      "Enter the full path to a file or folder",
      "Literal text to find",
      "An empty value removes matches",
      "0",
      ".txt, .md, <none>",
      "Folder path; press Enter to navigate",
      "Choose an existing folder outside the selected target",
  };
  return field < kFieldCount ? kPlaceholders[field] : std::string_view{};
}

}  // namespace tarnwick
