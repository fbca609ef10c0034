// Test helpers for the desktop: a private Xvfb server, child processes of the
// real program (or of an in-process desktop loop) and a few X client actions.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testing {

// A private X server on a free display (found by Xvfb itself through -displayfd),
// killed and reaped when the session ends, and also when the test process dies.
class XvfbSession {
 public:
  explicit XvfbSession(int depth = 24, std::string geometry = "1280x1024");
  XvfbSession(const XvfbSession&) = delete;
  XvfbSession& operator=(const XvfbSession&) = delete;
  ~XvfbSession();

  bool ok() const { return !display_.empty(); }
  const std::string& display() const { return display_; }  // ":N"
  // Runs a shell command with DISPLAY set to this server.
  int run(const std::string& command) const;
  std::string output(const std::string& command) const;

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// A child process whose standard output and error are kept in a file; killed
// and reaped when it goes out of scope.
class ChildProcess {
 public:
  // The real program (TARNWICK_BINARY) with DISPLAY set, or unset when nullopt,
  // extra "NAME=value" entries added to the environment, and its arguments.
  static ChildProcess start_program(const std::optional<std::string>& display,
                                    const std::vector<std::string>& extra_environment = {},
                                    const std::vector<std::string>& arguments = {});
  // A forked copy of the test process running `body` with DISPLAY set; the
  // child's exit status is body's result.
  static ChildProcess fork_running(const std::string& display, const std::function<int()>& body);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ~ChildProcess();

  // The raw wait status once the child ended within the timeout.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  bool running();
  std::string captured_output() const;
  pid_t pid() const { return pid_; }

 private:
  ChildProcess(pid_t pid, std::string output_path) : pid_(pid), output_path_(std::move(output_path)) {}
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::string output_path_;
};

// The path of the program under test (TARNWICK_BINARY); empty when unset.
std::string program_path();

// Polls `xdotool search --onlyvisible --name` until a mapped window with this title exists.
std::optional<unsigned long> wait_for_window(const XvfbSession& session, const std::string& title,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(10));

// What a window manager sends when the user closes the window.
bool send_delete_window(const XvfbSession& session, unsigned long window);

// Where tests keep artefacts such as screenshots (TARNWICK_ARTEFACT_DIR, else
// the working directory).
std::string artefact_path(const std::string& file_name);

}  // namespace tarnwick::testing
