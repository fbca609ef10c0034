// Parsing of a dropped text/uri-list into one local path, and of the files a
// file manager copied and is pasted into a path field, by the same rules.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

// The one local file or folder the list names, or the message for the user.
Result<std::string> parse_uri_list(std::string_view list);

// Pasted files, in the drop's words when they name no one local path:
// a text/uri-list (bytes that may not be UTF-8);
Result<std::string> path_from_uri_list(std::string_view bytes);
// an x-special/gnome-copied-files list: "copy" or "cut", then the URIs;
Result<std::string> path_from_copied_files(std::string_view bytes);
// plain text that is a file URI (white space around it aside); nothing for any
// other text, which is pasted as it is.
std::optional<Result<std::string>> path_from_pasted_text(std::string_view text);

// Why one URI names no local path; drops and the command line word it their own way.
enum class FileUriFault : std::uint8_t { NotFileUri, Remote, Malformed, NotUtf8, ControlCharacter };

// The local path of one "file://" URI: no host or "localhost", no query or
// fragment, every %XX decoded, valid UTF-8 without control characters.
std::expected<std::string, FileUriFault> decode_file_uri(std::string_view uri);

}  // namespace tarnwick
