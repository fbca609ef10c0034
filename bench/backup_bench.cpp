// Verified backup of a 50,000-entry tree and of a 256 MiB tree, against
// `rsync -a --fsync` and `cp -a` + `diff -r` of the same trees in the same run.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/backup.h"

namespace {

constexpr int kFolders = 500;
constexpr int kManyFiles = 49'499;  // with the folders and the target itself: 50,000 entries
constexpr std::size_t kMaxSmallFileBytes = 2'048;
constexpr int kLargeFiles = 64;
constexpr std::size_t kLargeFileBytes = 4 << 20;  // 64 x 4 MiB = 256 MiB

std::string bench_root;

std::string bytes_for(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

void write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void make_trees() {
  const std::string many = bench_root + "/many";
  std::filesystem::create_directories(many);
  for (int folder = 0; folder < kFolders; ++folder) std::filesystem::create_directory(many + "/d" + std::to_string(folder));
  for (int file = 0; file < kManyFiles; ++file) {
    const std::size_t size = (static_cast<std::size_t>(file) * 7919u) % (kMaxSmallFileBytes + 1);
    write(many + "/d" + std::to_string(file % kFolders) + "/f" + std::to_string(file), bytes_for(size, file));
  }
  const std::string large = bench_root + "/large";
  std::filesystem::create_directories(large);
  for (int file = 0; file < kLargeFiles; ++file) {
    write(large + "/part" + std::to_string(file), bytes_for(kLargeFileBytes, 1000 + file));
  }
  std::system("sync");
}

const char* tree_name(int index) { return index == 0 ? "many" : "large"; }

// A fresh, empty destination per iteration, removed outside the timing.
std::string fresh_destination(benchmark::State& state) {
  state.PauseTiming();
  const std::string destination = bench_root + "/dest";
  std::filesystem::remove_all(destination);
  std::filesystem::create_directory(destination);
  ::chmod(destination.c_str(), 0700);
  std::system("sync");
  state.ResumeTiming();
  return destination;
}

void BM_VerifiedBackup(benchmark::State& state) {
  const std::string source = bench_root + "/" + tree_name(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const std::string destination = fresh_destination(state);
    const auto result = tarnwick::create_backup_snapshot(source, destination);
    if (!result) {
      state.SkipWithError(result.error().c_str());
      return;
    }
    state.counters["files"] = static_cast<double>(result->files);
    state.counters["bytes"] = static_cast<double>(result->bytes);
  }
}

void run_command(benchmark::State& state, const std::string& command) {
  if (std::system(command.c_str()) != 0) state.SkipWithError(("failed: " + command).c_str());
}

void BM_RsyncFsync(benchmark::State& state) {
  const std::string source = bench_root + "/" + tree_name(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const std::string destination = fresh_destination(state);
    run_command(state, "rsync -a --fsync '" + source + "' '" + destination + "/copy'");
  }
}

void BM_CopyThenDiff(benchmark::State& state) {
  const std::string source = bench_root + "/" + tree_name(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const std::string destination = fresh_destination(state);
    run_command(state, "cp -a '" + source + "' '" + destination + "/copy' && diff -r '" + source + "' '" +
                           destination + "/copy'");
  }
}

// One iteration each: 50,000 fsyncs take minutes on a virtual disk. Repeat
// with --benchmark_repetitions for steadier figures.
void configure(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_VerifiedBackup)->Apply(configure);
BENCHMARK(BM_RsyncFsync)->Apply(configure);
BENCHMARK(BM_CopyThenDiff)->Apply(configure);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (std::system("command -v rsync >/dev/null") != 0) {
    std::fputs("rsync is missing: apt-get install rsync\n", stderr);
    return 1;
  }
  // The backup refuses folders that other accounts could write into, so the
  // trees live in a fresh private folder under the (sticky, root-owned) temp folder.
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarnwick-bench-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) return 1;
  bench_root = buffer.data();
  make_trees();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(bench_root);
  return 0;
}
