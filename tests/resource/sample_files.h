// Reading the real sample resources and the plain replacement their names
// are checked against.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace tarnwick::testing {

inline std::string read_whole(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

inline std::string replace_all(std::string text, std::string_view find, std::string_view replacement) {
  for (std::size_t at = text.find(find); at != std::string::npos; at = text.find(find, at + replacement.size()))
    text.replace(at, find.size(), replacement);
  return text;
}

}  // namespace tarnwick::testing
