// The program's command line: an optional path to start with, --help and
// --version. Nothing here touches X, so it runs before any display is needed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

inline constexpr int kExitUsage = 2;

enum class CommandKind : std::uint8_t { Start, Help, Version, Usage };

struct Command {
  CommandKind kind = CommandKind::Start;
  // Start: the absolute path for the target field, or none without a path.
  std::optional<std::string> start_target;
  // Usage: what was wrong, one line without the program's name.
  std::string problem;
};

// Asked only when a relative path needs it.
using CurrentFolder = std::function<Result<std::string>()>;

// Arguments without the program's name. A relative path is made absolute
// against the current folder; a "file://" URI is read as a drop would be.
Command parse_command_line(std::span<const std::string_view> arguments, const CurrentFolder& current_folder);

// The current folder from the system, or why it cannot be read.
Result<std::string> read_current_folder();

// The texts for standard output and standard error.
std::string help_text();
std::string version_text();
std::string usage_error_text(std::string_view problem);

}  // namespace tarnwick
