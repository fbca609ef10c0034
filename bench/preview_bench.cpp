// The preview walk on a generated 50,000-entry tree (a match in one name in
// ten), names only and with content editing, against its peers in the same
// process: a bare readdir + fstatat walk, and rg -uuu -j1 -c -F over the tree.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"
#include "peer_ratios.h"

extern char** environ;

namespace {

constexpr int kTopFolders = 10;
constexpr int kSubFolders = 10;                                                 // per top folder
constexpr int kFolders = 1 + kTopFolders + kTopFolders * kSubFolders;           // with the root
constexpr int kFiles = 50'000 - kFolders;                                       // 50,000 entries in all

std::string& tree_root() {
  static std::string root;
  return root;
}

// Folders top-0..9/sub-0..9, files spread evenly; every tenth name holds "match",
// and so does every tenth file's text.
void generate_tree() {
  char pattern[] = "/tmp/tarnwick-bench-preview-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) std::abort();
  tree_root() = std::string(pattern) + "/tree";
  std::filesystem::create_directory(tree_root());
  int file = 0;
  for (int top = 0; top < kTopFolders; ++top) {
    for (int sub = 0; sub < kSubFolders; ++sub) {
      const std::string folder = tree_root() + "/top-" + std::to_string(top) + "/sub-" + std::to_string(sub);
      std::filesystem::create_directories(folder);
      const int count = kFiles / (kTopFolders * kSubFolders) + (top * kSubFolders + sub < kFiles % 100 ? 1 : 0);
      for (int i = 0; i < count; ++i, ++file) {
        char name[64];
        std::snprintf(name, sizeof name, file % 10 == 0 ? "document-match-%05d.txt" : "document-%05d.txt", file);
        std::ofstream out(folder + "/" + name);
        out << "line one of file " << file << "\nsecond line with a few more words\n";
        if (file % 10 == 5) out << "this line has a match inside\n";
      }
    }
  }
}

// Resident memory from /proc/self/status, in KiB: "VmRSS:" now, "VmHWM:" the
// peak since the last reset (writing 5 to clear_refs resets it to now).
long memory_kib(std::string_view field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field)) return std::atol(line.c_str() + field.size());
  }
  return -1;
}
void reset_peak_memory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

// The peer: recursive readdir + fstatat relative to the folder, nothing else.
std::uint64_t bare_walk(int parent_fd, const char* name) {
  const int fd = ::openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  DIR* directory = ::fdopendir(fd);
  std::uint64_t entries = 0;
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.' && (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0'))) {
      continue;
    }
    struct stat status {};
    if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    ++entries;
    if (S_ISDIR(status.st_mode)) entries += bare_walk(fd, entry->d_name);
  }
  ::closedir(directory);
  return entries;
}

double& bare_walk_seconds() {
  static double seconds = 0;
  return seconds;
}
double& ripgrep_seconds() {
  static double seconds = 0;
  return seconds;
}

template <class Body>
double timed(Body body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_BareWalk(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) {
    std::uint64_t entries = 0;
    const double seconds = timed([&] { entries = 1 + bare_walk(AT_FDCWD, tree_root().c_str()); });
    state.SetIterationTime(seconds);
    total += seconds;
    if (entries != 50'000) state.SkipWithError("the tree does not hold 50,000 entries");
  }
  bare_walk_seconds() = total / static_cast<double>(state.iterations());
}

void run_preview_benchmark(benchmark::State& state, bool edit_contents, double peer_seconds, const char* ratio_name) {
  tarnwick::OperationRequest request;
  request.target = tree_root();
  request.find = "match";
  request.replacement = "found";
  request.edit_contents = edit_contents;
  // Freed plans stay in the allocator's heap, so only the first preview of the
  // process shows how much fresh memory one preview takes.
  static long first_growth_kib[2] = {-1, -1};
  long& growth = first_growth_kib[edit_contents ? 1 : 0];
  double total = 0;
  for (auto _ : state) {
    tarnwick::PreviewFinished finished;
    reset_peak_memory();
    const long before = memory_kib("VmRSS:");
    const double seconds = timed([&] { finished = tarnwick::run_preview(request); });
    state.SetIterationTime(seconds);
    total += seconds;
    if (growth < 0) growth = memory_kib("VmHWM:") - before;
    if (!finished.plan) {
      state.SkipWithError(finished.plan.error().c_str());
      break;
    }
    state.counters["changes"] = static_cast<double>(finished.plan->changes.size());
  }
  if (peer_seconds > 0) state.counters[ratio_name] = total / static_cast<double>(state.iterations()) / peer_seconds;
  state.counters["peak_MiB"] = static_cast<double>(growth) / 1024.0;
}

void BM_PreviewNames(benchmark::State& state) {
  run_preview_benchmark(state, false, bare_walk_seconds(), "ratio_to_bare_walk");
}

// rg counts the matching lines of every file, hidden and ignored ones included, on one thread.
void BM_Ripgrep(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) {
    const double seconds = timed([&] {
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      const char* argv[] = {"rg", "-uuu", "-j1", "-c", "-F", "match", tree_root().c_str(), nullptr};
      pid_t child = 0;
      const int spawned = posix_spawnp(&child, "rg", &actions, nullptr, const_cast<char* const*>(argv), environ);
      posix_spawn_file_actions_destroy(&actions);
      int status = 0;
      if (spawned != 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        state.SkipWithError("rg failed or is not installed (package ripgrep)");
      }
    });
    state.SetIterationTime(seconds);
    total += seconds;
  }
  ripgrep_seconds() = total / static_cast<double>(state.iterations());
}

void BM_PreviewContent(benchmark::State& state) {
  run_preview_benchmark(state, true, ripgrep_seconds(), "ratio_to_ripgrep");
}

// The review's excerpts for one page of 100 content changes of that preview:
// what showing a page costs, once, when the page is composed.
void BM_PageExcerpts(benchmark::State& state) {
  tarnwick::OperationRequest request;
  request.target = tree_root();
  request.find = "match";
  request.replacement = "found";
  request.edit_contents = true;
  const tarnwick::PreviewFinished finished = tarnwick::run_preview(request);
  if (!finished.plan) {
    state.SkipWithError(finished.plan.error().c_str());
    return;
  }
  std::vector<const tarnwick::ChangeEntry*> page;
  for (const tarnwick::ChangeEntry& change : finished.plan->changes) {
    if (change.content_changes && page.size() < 100) page.push_back(&change);
  }
  for (auto _ : state) {
    std::size_t lines = 0;
    for (const tarnwick::ChangeEntry* change : page) {
      const auto excerpts = tarnwick::compose_change_excerpts(*finished.plan, *change, request);
      if (!excerpts) state.SkipWithError(excerpts.error().c_str());
      lines += excerpts ? excerpts->size() : 0;
    }
    benchmark::DoNotOptimize(lines);
  }
}

// Registration order is run order: each peer runs just before the preview it is compared with.
BENCHMARK(BM_BareWalk)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PreviewNames)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Ripgrep)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PreviewContent)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PageExcerpts)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  generate_tree();
  benchmark::Initialize(&argc, argv);
  bench_support::run_and_print_ratios({{}, {"ratio_to_bare_walk", "ratio_to_ripgrep"}});
  benchmark::Shutdown();
  std::filesystem::remove_all(std::filesystem::path(tree_root()).parent_path());
  return 0;
}
