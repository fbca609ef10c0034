// The command line: options first, then at most one path, made absolute and
// checked against what the target field can hold.
#include "native_linux/x11/command_line.h"

#include <algorithm>
#include <vector>

#include "common/fs.h"
#include "common/text.h"
#include "common/utf8.h"
#include "native_linux/ui/ui_state.h"
#include "native_linux/x11/drop_uri_list.h"

#ifndef TARNWICK_VERSION
#error "TARNWICK_VERSION must name the project's version"
#endif

namespace tarnwick {
namespace {

constexpr std::string_view kProgram = "tarnwick";
constexpr std::string_view kUsageLine = "Usage: tarnwick [--help | --version | PATH]\n";
constexpr std::string_view kFileScheme = "file://";

std::vector<std::string_view> components_of(std::string_view path) {
  std::vector<std::string_view> components;
  for (std::size_t at = 0; at <= path.size();) {
    const std::size_t slash = std::min(path.find('/', at), path.size());
    components.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return components;
}

// Doubled separators, "." and a trailing separator go. A ".." at the start of
// a relative path climbs the current folder, which getcwd gives without links,
// exactly as the system would; a later ".." stays as it is, because the folder
// before it may be a link, and the preview resolves it as the system does.
std::string absolute_path(std::string_view path, std::string_view current_folder) {
  std::vector<std::string_view> kept;
  if (!path.starts_with('/')) {
    for (std::string_view piece : components_of(current_folder)) {
      if (!piece.empty() && piece != ".") kept.push_back(piece);
    }
  }
  bool leading = true;
  for (std::string_view piece : components_of(path)) {
    if (piece.empty() || piece == ".") continue;
    if (piece == ".." && leading) {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    leading = false;
    kept.push_back(piece);
  }
  std::string absolute;
  for (std::string_view piece : kept) absolute.append("/").append(piece);
  return absolute.empty() ? "/" : absolute;
}

std::string uri_problem(FileUriFault fault) {
  switch (fault) {
    case FileUriFault::NotFileUri: return "the argument is not a file URI";
    case FileUriFault::Remote: return "only local files and folders can be opened, not a remote file URI";
    case FileUriFault::Malformed: return "the file URI is malformed";
    case FileUriFault::NotUtf8: return "the path is not valid UTF-8";
    case FileUriFault::ControlCharacter: return "the path contains control characters";
  }
  return "the file URI is malformed";
}

// The path as the target field will hold it, or why it cannot.
Result<std::string> start_target(std::string_view argument, const CurrentFolder& current_folder) {
  if (argument.empty()) return fail("the path is empty");
  std::string absolute;
  if (argument.starts_with(kFileScheme)) {
    const auto decoded = decode_file_uri(argument);
    if (!decoded) return fail(uri_problem(decoded.error()));
    absolute = absolute_path(*decoded, "/");
  } else if (argument.starts_with('/')) {
    absolute = absolute_path(argument, "/");
  } else {
    absolute = absolute_path(argument, TRY(current_folder()));
  }
  if (!is_valid_utf8(absolute)) return fail(uri_problem(FileUriFault::NotUtf8));
  if (contains_control_character(absolute)) return fail(uri_problem(FileUriFault::ControlCharacter));
  if (absolute.size() > kMaxFieldBytes) {
    return fail("the path is longer than the " + std::to_string(kMaxFieldBytes) + " bytes the target field holds");
  }
  return absolute;
}

Command usage(std::string problem) { return Command{CommandKind::Usage, std::nullopt, std::move(problem)}; }

}  // namespace

Command parse_command_line(std::span<const std::string_view> arguments, const CurrentFolder& current_folder) {
  std::vector<std::string_view> paths;
  bool options_ended = false;
  for (std::string_view argument : arguments) {
    if (!options_ended && argument == "--") {
      options_ended = true;
      continue;
    }
    // A lone "-" is a path, as usual.
    if (!options_ended && argument.size() > 1 && argument.front() == '-') {
      if (argument == "--help") return Command{CommandKind::Help, std::nullopt, {}};
      if (argument == "--version") return Command{CommandKind::Version, std::nullopt, {}};
      // Shown on a terminal: nothing in it may act as a control sequence.
      return usage("unrecognised option '" + strip_control_characters(lossy_utf8(argument)) + "'");
    }
    paths.push_back(argument);
  }
  if (paths.size() > 1) return usage("give one path at most");
  if (paths.empty()) return Command{};
  auto target = start_target(paths.front(), current_folder);
  if (!target) return usage(std::move(target.error()));
  return Command{CommandKind::Start, std::move(*target), {}};
}

Result<std::string> read_current_folder() {
  auto folder = sys::getcwd();
  if (!folder) return fail("cannot read the current folder: " + os_error_text(folder.error()));
  return std::move(*folder);
}

std::string help_text() {
  return std::string(kUsageLine) +
         "Replaces one literal text in the names and, when enabled, the contents of\n"
         "one file or folder tree. Every change is previewed and reviewed in the\n"
         "window before it is applied. The window opens on the local X11 display.\n"
         "\n"
         "  PATH        start with this file or folder in the target field: a path,\n"
         "              made absolute against the current folder, or a file:// URI;\n"
         "              nothing is previewed until asked\n"
         "  --help      print this help and exit\n"
         "  --version   print the version and exit\n"
         "\n"
         "Exit status: 0 when the window is closed (also when no local X11 display\n"
         "could be used), 1 when the connection to the display is lost, 2 for an\n"
         "error on the command line.\n";
}

std::string version_text() { return std::string(kProgram) + " " + TARNWICK_VERSION + "\n"; }

std::string usage_error_text(std::string_view problem) {
  return std::string(kProgram) + ": " + std::string(problem) + "\n" + std::string(kUsageLine);
}

}  // namespace tarnwick
