// Parsing of a dropped text/uri-list into one local path.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

// The one local file or folder the list names, or the message for the user.
Result<std::string> parse_uri_list(std::string_view list);

// Why one URI names no local path; drops and the command line word it their own way.
enum class FileUriFault : std::uint8_t { NotFileUri, Remote, Malformed, NotUtf8, ControlCharacter };

// The local path of one "file://" URI: no host or "localhost", no query or
// fragment, every %XX decoded, valid UTF-8 without control characters.
std::expected<std::string, FileUriFault> decode_file_uri(std::string_view uri);

}  // namespace tarnwick
