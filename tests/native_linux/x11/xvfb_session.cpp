// Xvfb, child processes and client messages for the desktop tests.
#include "xvfb_session.h"

// gtest first: Xlib defines macros (None, Status) that clash with its names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/temp_tree.h"

namespace tarnwick::testing {

namespace {

constexpr auto kServerStartTimeout = std::chrono::seconds(20);
constexpr auto kPollStep = std::chrono::milliseconds(20);

// In the child: ends with the parent, so nothing survives a crashed test run.
void die_with_parent() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) _exit(127);
}

std::string make_output_path() {
  char path[] = "/tmp/tarnwick-child-XXXXXX";
  const int fd = mkstemp(path);
  if (fd >= 0) close(fd);
  return path;
}

void redirect_output(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return;
  dup2(fd, STDOUT_FILENO);
  dup2(fd, STDERR_FILENO);
}

void kill_and_reap(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(kPollStep);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace

XvfbSession::XvfbSession(int depth, std::string geometry) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed";
    return;
  }
  const std::string screen = geometry + "x" + std::to_string(depth);
  pid_ = fork();
  if (pid_ == 0) {
    die_with_parent();
    const int fd = dup(pipe_fds[1]);  // without O_CLOEXEC, so Xvfb can write to it
    const std::string fd_text = std::to_string(fd);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
           screen.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipe_fds[1]);
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + kServerStartTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{pipe_fds[0], POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0) continue;
    char c = 0;
    if (read(pipe_fds[0], &c, 1) != 1) break;  // Xvfb died before accepting connections
    if (c == '\n') break;
    number += c;
  }
  close(pipe_fds[0]);
  if (number.empty()) {
    ADD_FAILURE() << "Xvfb did not start (is package xvfb installed?)";
    kill_and_reap(pid_);
    pid_ = -1;
    return;
  }
  display_ = ":" + number;
}

XvfbSession::~XvfbSession() { kill_and_reap(pid_); }

int XvfbSession::run(const std::string& command) const {
  return run_command("DISPLAY=" + display_ + " " + command);
}

std::string XvfbSession::output(const std::string& command) const {
  return command_output("DISPLAY=" + display_ + " " + command);
}

std::string program_path() {
  const char* path = std::getenv("TARNWICK_BINARY");
  return path ? path : "";
}

ChildProcess ChildProcess::start_program(const std::optional<std::string>& display,
                                         const std::vector<std::string>& extra_environment,
                                         const std::vector<std::string>& arguments) {
  const std::string program = program_path();
  const std::string output_path = make_output_path();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    die_with_parent();
    redirect_output(output_path);
    if (display) {
      setenv("DISPLAY", display->c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
    for (const std::string& entry : extra_environment) putenv(const_cast<char*>(entry.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return ChildProcess(pid, output_path);
}

ChildProcess ChildProcess::fork_running(const std::string& display, const std::function<int()>& body) {
  const std::string output_path = make_output_path();
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    die_with_parent();
    redirect_output(output_path);
    setenv("DISPLAY", display.c_str(), 1);
    const int status = body();
    std::fflush(nullptr);
    _exit(status);  // no gtest teardown in the child
  }
  return ChildProcess(pid, output_path);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), status_(other.status_), output_path_(std::move(other.output_path_)) {
  other.pid_ = -1;
  other.output_path_.clear();
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!output_path_.empty()) unlink(output_path_.c_str());
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      return status_;
    }
    std::this_thread::sleep_for(kPollStep);
  } while (std::chrono::steady_clock::now() < deadline);
  return std::nullopt;
}

bool ChildProcess::running() { return !wait(std::chrono::milliseconds(0)).has_value(); }

std::string ChildProcess::captured_output() const {
  std::ifstream file(output_path_);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::optional<unsigned long> wait_for_window(const XvfbSession& session, const std::string& title,
                                             std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string found = session.output("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
    if (!found.empty()) return std::stoul(found);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return std::nullopt;
}

bool send_delete_window(const XvfbSession& session, unsigned long window) {
  Display* display = XOpenDisplay(session.display().c_str());
  if (!display) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
  return sent != 0;
}

std::string artefact_path(const std::string& file_name) {
  const char* folder = std::getenv("TARNWICK_ARTEFACT_DIR");
  return std::string(folder && *folder ? folder : ".") + "/" + file_name;
}

}  // namespace tarnwick::testing
