// An apply and a Recover running in a process of their own, killed with
// SIGKILL from outside: at injected calls (the driver stops itself right
// before the call and this test kills it there) and at moments taken from the
// clock. Afterwards this process previews (refused, naming the journal), runs
// Recover, and finds the tree exactly as before the apply, or fully applied
// when the apply's cleanup had removed an original, with no hidden file left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/apply_support.h"
#include "engine/preview_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;
using testing::TreeSnapshot;

// Renamed folders two deep, files renamed and edited in UTF-8, edited in
// UTF-16, and untouched files of other modes: 156 entries.
std::string build_tree(TempDir& dir) {
  for (int top = 0; top < 6; ++top) {
    const std::string folder = "t/old_" + std::to_string(top) + "/sub_old/";
    dir.folder("t/old_" + std::to_string(top), 0750);
    for (int file = 0; file < 8; ++file) {
      const std::string n = std::to_string(file);
      dir.file(folder + "f" + n + "_old.txt", "an old line " + n + "\n", 0640);
      dir.file(folder + "w" + n + ".txt", testing::utf16("old wide " + n, false));
      dir.file(folder + "keep" + n + ".bin", "nothing " + n, 0600);
    }
  }
  return dir / "t";
}

// One run of the driver: started, then either stopped at its injected call or ended.
class Driver {
 public:
  explicit Driver(std::vector<std::string> arguments) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) std::abort();
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipe_fds[1], STDOUT_FILENO);
      ::close(pipe_fds[0]);
      std::vector<char*> argv;
      std::string program = TARNWICK_APPLY_KILL_DRIVER;
      argv.push_back(program.data());
      for (std::string& argument : arguments) argv.push_back(argument.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(pipe_fds[1]);
    output_fd_ = pipe_fds[0];
  }
  ~Driver() {
    if (!ended_) kill();
    ::close(output_fd_);
  }

  // True when it stopped itself at its call; false when it ended first.
  bool stopped() {
    int status = 0;
    ::waitpid(pid_, &status, WUNTRACED);
    if (WIFSTOPPED(status)) return true;
    ended_ = true;
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  // SIGKILL from this process, wherever the driver is.
  void kill() {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ended_ = true;
    killed_ = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }
  bool killed() const { return killed_; }
  int exit_status() const { return exit_status_; }
  std::string output() {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(output_fd_, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    return text;
  }

 private:
  pid_t pid_ = -1;
  int output_fd_ = -1;
  bool ended_ = false;
  bool killed_ = false;
  int exit_status_ = -1;
};

std::vector<std::string> apply_arguments(const std::string& target, std::optional<std::uint64_t> stop_at) {
  std::vector<std::string> arguments = {"apply", target, "old", "new"};
  if (stop_at) arguments.push_back(std::to_string(*stop_at));
  return arguments;
}

std::uint64_t calls_in(const std::string& output) {
  EXPECT_TRUE(output.starts_with("calls ")) << output;
  return std::strtoull(output.c_str() + 6, nullptr, 10);
}

std::optional<std::string> journal_refusing_preview(const TempDir& dir) {
  const PreviewFinished finished = run_preview(testing::preview_request(dir.path(), "x"));
  return finished.plan ? std::nullopt : finished.interrupted_apply_journal;
}

struct Trees {
  TreeSnapshot original;
  TreeSnapshot applied;
  std::uint64_t apply_calls = 0;
  std::chrono::steady_clock::duration apply_time{};
};

Trees trees() {
  Trees trees;
  TempDir dir;
  const std::string target = build_tree(dir);
  trees.original = testing::snapshot_tree(dir.path());
  const auto start = std::chrono::steady_clock::now();
  Driver driver(apply_arguments(target, std::nullopt));
  EXPECT_FALSE(driver.stopped());
  trees.apply_time = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(driver.exit_status(), 0);
  trees.apply_calls = calls_in(driver.output());
  trees.applied = testing::snapshot_tree(dir.path());
  EXPECT_NE(testing::describe_difference(trees.original, trees.applied), "");
  return trees;
}

// Recover in this process, then the tree is checked; returns whether Recover completed the apply.
bool recover_and_check(const TempDir& dir, const Trees& trees, const std::string& context) {
  bool completed = false;
  if (const std::optional<std::string> journal = journal_refusing_preview(dir)) {
    const RecoverFinished finished = run_recover(*journal);
    EXPECT_TRUE(finished.outcome) << context << (finished.outcome ? "" : finished.outcome.error());
    completed = finished.outcome && finished.outcome->kind == RecoverOutcome::Kind::Completed;
    EXPECT_EQ(journal_refusing_preview(dir), std::nullopt) << context;
  }
  const TreeSnapshot after = testing::snapshot_tree(dir.path());
  EXPECT_EQ(testing::hidden_files(after), std::vector<std::string>{}) << context;
  if (completed || testing::describe_difference(trees.original, after) != "") {
    // Only an apply whose cleanup had begun (or that had ended) may stay applied.
    EXPECT_EQ(testing::describe_difference(trees.applied, after), "") << context;
  }
  return completed;
}

TEST(ApplyKilledFromOutside, AtInjectedCallsAndAtClockedMomentsTheTreeComesBackWhole) {
  const testing::FastTempRoot fast;
  const Trees reference = trees();
  ASSERT_GT(reference.apply_calls, 500u);
  int journals = 0, completed = 0;
  // About 60 calls spread over every phase, and the last ten, where the cleanup runs.
  std::vector<std::uint64_t> points;
  for (std::uint64_t call = 1; call < reference.apply_calls - 10; call += reference.apply_calls / 60) points.push_back(call);
  for (std::uint64_t call = reference.apply_calls - 10; call <= reference.apply_calls; ++call) points.push_back(call);
  for (const std::uint64_t call : points) {
    TempDir dir;
    Driver driver(apply_arguments(build_tree(dir), call));
    ASSERT_TRUE(driver.stopped()) << "the apply ended before call " << call;
    driver.kill();
    ASSERT_TRUE(driver.killed());
    journals += journal_refusing_preview(dir) ? 1 : 0;
    completed += recover_and_check(dir, reference, "apply killed before call " + std::to_string(call) + "\n") ? 1 : 0;
    if (HasFailure()) return;
  }
  // Kills at moments from the clock land anywhere, inside calls too.
  for (int eighth = 1; eighth <= 8; ++eighth) {
    TempDir dir;
    Driver driver(apply_arguments(build_tree(dir), std::nullopt));
    std::this_thread::sleep_for(reference.apply_time * eighth / 8);
    driver.kill();
    recover_and_check(dir, reference, "apply killed after " + std::to_string(eighth) + "/8 of its time\n");
    if (HasFailure()) return;
  }
  std::printf("[ kills    ] %zu injected kill points of %llu calls: %d left a journal, %d completed by Recover\n",
              points.size(), static_cast<unsigned long long>(reference.apply_calls), journals, completed);
  EXPECT_GT(journals, 20);
  EXPECT_GT(completed, 0);
}

TEST(ApplyKilledFromOutside, ARecoverKilledFromOutsideIsFinishedByTheNext) {
  const testing::FastTempRoot fast;
  const Trees reference = trees();
  int recover_kills = 0;
  // An apply killed in its content phase and one in its rename phase.
  for (const std::uint64_t apply_call : {reference.apply_calls * 3 / 5, reference.apply_calls * 4 / 5}) {
    for (std::uint64_t recover_call = 1;; recover_call += 13) {
      TempDir dir;
      Driver apply(apply_arguments(build_tree(dir), apply_call));
      ASSERT_TRUE(apply.stopped());
      apply.kill();
      const std::optional<std::string> journal = journal_refusing_preview(dir);
      ASSERT_TRUE(journal) << "no journal after a kill before call " << apply_call;
      Driver recover({"recover", *journal, std::to_string(recover_call)});
      if (!recover.stopped()) {
        EXPECT_EQ(recover.exit_status(), 0) << recover.output();
        break;
      }
      recover.kill();
      ++recover_kills;
      recover_and_check(dir, reference,
                        "apply killed before call " + std::to_string(apply_call) + ", Recover before call " +
                            std::to_string(recover_call) + "\n");
      if (HasFailure()) return;
    }
  }
  std::printf("[ kills    ] %d Recovers killed from outside, each finished by the next\n", recover_kills);
  EXPECT_GT(recover_kills, 50);
}

}  // namespace
}  // namespace tarnwick
