// Helpers for the apply tests.
#include "engine/apply_support.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace tarnwick::testing {

OperationRequest apply_request(const std::string& target, const std::string& find, const std::string& replacement) {
  OperationRequest request;
  request.target = target;
  request.find = find;
  request.replacement = replacement;
  request.match_case = true;
  request.edit_contents = true;
  return request;
}

PreviewPlan plan_of(const std::string& target, const std::string& find, const std::string& replacement) {
  PreviewFinished finished = run_preview(apply_request(target, find, replacement));
  if (!finished.plan) throw std::runtime_error("preview failed: " + finished.plan.error());
  return std::move(*finished.plan);
}

std::vector<std::string> hidden_files(const TreeSnapshot& snapshot) {
  std::vector<std::string> found;
  for (const auto& [path, entry] : snapshot) {
    if (std::filesystem::path(path).filename().string().starts_with(".tarnwick-")) found.push_back(path);
  }
  return found;
}

TreeSnapshot without_hidden_files(TreeSnapshot snapshot) {
  for (const std::string& path : hidden_files(snapshot)) snapshot.erase(path);
  return snapshot;
}

std::string failure_text(const ApplyFinished& finished) {
  return finished.outcome ? std::string() : finished.outcome.error();
}

std::string text_from_child(const std::function<std::string()>& body) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    const std::string text = body();
    const ssize_t written = ::write(pipe_ends[1], text.data(), text.size());
    ::_exit(written == static_cast<ssize_t>(text.size()) ? 0 : 3);
  }
  ::close(pipe_ends[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t count; (count = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) text.append(buffer, count);
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + std::to_string(status);
  return text;
}

bool become_nobody() {
  constexpr uid_t kNobody = 65534;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

std::string utf16(std::string_view ascii, bool big_endian) {
  std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : ascii) bytes += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  return bytes;
}

PollStatus wait_for_event(EventReceiver& receiver, std::optional<WorkerEvent>& event) {
  PollStatus status = PollStatus::Empty;
  for (int wait = 0; wait < 2000 && (status = receiver.try_receive(event)) == PollStatus::Empty; ++wait) ::usleep(5000);
  return status;
}

}  // namespace tarnwick::testing
