// A dropped uri-list must name exactly one local file URI; everything else is
// refused with one message per reason.
#include "native_linux/x11/drop_uri_list.h"

#include <vector>

#include "common/utf8.h"

namespace tarnwick {
namespace {

constexpr std::string_view kFileScheme = "file://";
constexpr std::string_view kLocalhostPrefix = "localhost/";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> meaningful_lines(std::string_view list) {
  std::vector<std::string_view> lines;
  while (!list.empty()) {
    const std::size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = trim(line);
    if (line.empty() || line.front() == '#') continue;
    lines.push_back(line);
  }
  return lines;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::expected<std::string, FileUriFault> decode_local_path(std::string_view encoded) {
  if (encoded.find_first_of("?#") != std::string_view::npos) return std::unexpected(FileUriFault::Malformed);
  std::string path;
  path.reserve(encoded.size());
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      path.push_back(encoded[i]);
      continue;
    }
    if (i + 2 >= encoded.size()) return std::unexpected(FileUriFault::Malformed);
    const int high = hex_value(encoded[i + 1]);
    const int low = hex_value(encoded[i + 2]);
    if (high < 0 || low < 0) return std::unexpected(FileUriFault::Malformed);
    path.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  if (!is_valid_utf8(path)) return std::unexpected(FileUriFault::NotUtf8);
  if (contains_control_character(path)) return std::unexpected(FileUriFault::ControlCharacter);
  return path;
}

std::string_view drop_message(FileUriFault fault) {
  switch (fault) {
    case FileUriFault::NotFileUri: return "Only local files and folders can be dropped.";
    case FileUriFault::Remote: return "Remote file locations cannot be dropped.";
    case FileUriFault::Malformed: return "The dropped file URI is malformed.";
    case FileUriFault::NotUtf8: return "Drop a file with a valid UTF-8 path.";
    case FileUriFault::ControlCharacter: return "Dropped paths cannot contain control characters.";
  }
  return "The dropped file URI is malformed.";
}

}  // namespace

std::expected<std::string, FileUriFault> decode_file_uri(std::string_view uri) {
  if (!uri.starts_with(kFileScheme)) return std::unexpected(FileUriFault::NotFileUri);
  std::string_view rest = uri.substr(kFileScheme.size());
  // "file://localhost/x" names the same file as "file:///x".
  if (rest.starts_with(kLocalhostPrefix)) rest.remove_prefix(kLocalhostPrefix.size() - 1);
  if (!rest.starts_with('/')) return std::unexpected(FileUriFault::Remote);
  return decode_local_path(rest);
}

Result<std::string> parse_uri_list(std::string_view list) {
  const std::vector<std::string_view> lines = meaningful_lines(list);
  if (lines.empty()) return fail("Drop one file or folder.");
  if (lines.size() > 1) return fail("Drop one file or folder at a time.");
  auto path = decode_file_uri(lines.front());
  if (!path) return fail(std::string(drop_message(path.error())));
  return std::move(*path);
}

Result<std::string> path_from_uri_list(std::string_view bytes) {
  if (!is_valid_utf8(bytes)) return fail(std::string(drop_message(FileUriFault::NotUtf8)));
  return parse_uri_list(bytes);
}

Result<std::string> path_from_copied_files(std::string_view bytes) {
  // The first line says whether the files were copied or cut; either way the
  // path is only read, so both are taken alike.
  const std::size_t end = bytes.find('\n');
  const std::string_view action = trim(bytes.substr(0, end));
  if (action == "copy" || action == "cut") {
    bytes = end == std::string_view::npos ? std::string_view{} : bytes.substr(end + 1);
  }
  return path_from_uri_list(bytes);
}

std::optional<Result<std::string>> path_from_pasted_text(std::string_view text) {
  if (!trim(text).starts_with(kFileScheme)) return std::nullopt;
  return path_from_uri_list(text);
}

}  // namespace tarnwick
