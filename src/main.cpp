// Program entry: reads the command line, then the main thread becomes the UI
// thread. Every message of the window is drawn in it, so a start-up failure
// ends the program quietly with status 0.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "native_linux/x11/command_line.h"
#include "native_linux/x11/desktop.h"

namespace {

// 0, or 1 when the text could not be written (a full disk, a closed pipe).
int print(std::FILE* stream, const std::string& text) {
  const bool written = std::fputs(text.c_str(), stream) >= 0;
  return written && std::fflush(stream) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
  tarnwick::Command command = tarnwick::parse_command_line(arguments, tarnwick::read_current_folder);
  switch (command.kind) {
    case tarnwick::CommandKind::Help: return print(stdout, tarnwick::help_text());
    case tarnwick::CommandKind::Version: return print(stdout, tarnwick::version_text());
    case tarnwick::CommandKind::Usage:
      (void)print(stderr, tarnwick::usage_error_text(command.problem));
      return tarnwick::kExitUsage;
    case tarnwick::CommandKind::Start: break;
  }
  (void)tarnwick::run_desktop(std::move(command.start_target));
  return 0;
}
