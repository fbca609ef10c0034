// Opening the folder browser on a generated folder of 50,000 entries (listing,
// sort and the first frame drawn) against `ls -a` of the same folder, measured
// in the same process, one right after the other: wall time, and the CPU time
// each took (ls's from wait4), which a loaded machine inflates far less.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "native_linux/ui/screen_layout.h"
#include "peer_ratios.h"

extern char** environ;

namespace {

constexpr int kEntries = 50'000;
constexpr int kFolders = 500;  // listed first, sorted among themselves

std::string& folder() {
  static std::string path;
  return path;
}

// Mixed-case names with a few non-ASCII ones, created in an order unrelated to the sorted one.
void generate_folder() {
  char pattern[] = "/tmp/tarnwick-bench-browser-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) std::abort();
  folder() = pattern;
  for (int i = 0; i < kEntries; ++i) {
    const int scrambled = (i * 7919) % kEntries;
    char name[64];
    const char* stem = scrambled % 3 == 0 ? "Report" : scrambled % 3 == 1 ? "notes" : "\xc3\x84nderung";
    std::snprintf(name, sizeof name, "%s-%05d%s", stem, scrambled, i < kFolders ? "" : ".txt");
    const std::string path = folder() + "/" + name;
    if (i < kFolders) {
      if (::mkdir(path.c_str(), 0755) != 0) std::abort();
      continue;
    }
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) std::abort();
    ::close(fd);
  }
}

double& ls_seconds() {
  static double seconds = 0;
  return seconds;
}
// The CPU time (user + system) ls itself took, which a loaded machine does not inflate.
double& ls_cpu_seconds() {
  static double seconds = 0;
  return seconds;
}

double cpu_seconds(const struct rusage& usage) {
  const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The wall time of body. Each measured run starts after an untimed pause: on
// a shared machine the scheduler favours a task that has just slept (as ls,
// newly started, has), so both sides start rested and stay comparable.
template <class Body>
double rested_and_timed(benchmark::State& state, Body body) {
  state.PauseTiming();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  state.ResumeTiming();
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The peer: ls -a of the folder, its output thrown away.
void BM_LsA(benchmark::State& state) {
  double total = 0;
  double cpu = 0;
  for (auto _ : state) {
    const double seconds = rested_and_timed(state, [&] {
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      const char* argv[] = {"ls", "-a", folder().c_str(), nullptr};
      pid_t child = 0;
      const int spawned = posix_spawnp(&child, "ls", &actions, nullptr, const_cast<char* const*>(argv), environ);
      posix_spawn_file_actions_destroy(&actions);
      int status = 0;
      struct rusage usage {};
      if (spawned != 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
          WEXITSTATUS(status) != 0) {
        state.SkipWithError("ls failed");
      }
      cpu += cpu_seconds(usage);
    });
    state.SetIterationTime(seconds);
    total += seconds;
  }
  ls_seconds() = total / static_cast<double>(state.iterations());
  ls_cpu_seconds() = cpu / static_cast<double>(state.iterations());
  state.counters["cpu_ms"] = ls_cpu_seconds() * 1e3;
}

// Browse…: open at the target (the folder), list, sort, and draw the first frame.
void BM_OpenBrowser(benchmark::State& state) {
  tarnwick::UiState ui;
  ui.fields[tarnwick::kFieldTarget] = folder();
  tarnwick::RecordingCanvas canvas;
  double total = 0;
  double cpu = 0;
  for (auto _ : state) {
    ui.browser = tarnwick::BrowserState{};
    canvas.clear();
    double thread_cpu = 0;
    const double seconds = rested_and_timed(state, [&] {
      struct rusage before {};
      ::getrusage(RUSAGE_THREAD, &before);
      tarnwick::dispatch_action(ui, tarnwick::UiAction::BrowseTarget, 0, 0);
      canvas.begin_frame();
      tarnwick::draw_frame(canvas, ui, tarnwick::Size{1100, 810});
      struct rusage after {};
      ::getrusage(RUSAGE_THREAD, &after);
      thread_cpu = cpu_seconds(after) - cpu_seconds(before);
    });
    cpu += thread_cpu;
    state.SetIterationTime(seconds);
    total += seconds;
    if (ui.browser.rows.size() != kEntries || ui.browser.message) state.SkipWithError("the listing is not whole");
  }
  const double iterations = static_cast<double>(state.iterations());
  state.counters["cpu_ms"] = cpu / iterations * 1e3;
  if (ls_seconds() > 0) state.counters["ratio_to_ls_a"] = total / iterations / ls_seconds();
  if (ls_cpu_seconds() > 0) state.counters["cpu_ratio_to_ls_a"] = cpu / iterations / ls_cpu_seconds();
}

// Registration order is run order: the peer runs just before the browser.
BENCHMARK(BM_LsA)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OpenBrowser)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  generate_folder();
  benchmark::Initialize(&argc, argv);
  bench_support::run_and_print_ratios({{}, {"ratio_to_ls_a", "cpu_ratio_to_ls_a"}});
  benchmark::Shutdown();
  std::filesystem::remove_all(folder());
  return 0;
}
