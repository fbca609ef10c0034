// Verified backup of a 50,000-entry tree and of a 256 MiB tree, against
// `rsync -a --fsync` and `cp -a` + `diff -r` of the same trees in the same run,
// interleaved.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "peer_ratios.h"

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

// Every copy goes into a destination never used before, and nothing is
// deleted until the run is over: after 50,000 files are deleted, ext4 skips
// the freed inodes for minutes when it allocates new ones, which makes the
// next 50,000 creations several times slower for whichever copy runs next.
std::string unused_destination() {
  static int next = 0;
  const std::string destination = bench_root + "/dest-" + std::to_string(next++);
  std::filesystem::create_directory(destination);
  ::chmod(destination.c_str(), 0700);
  std::system("sync");  // the previous copy's dirty pages are not this one's cost
  return destination;
}

template <class Body>
double seconds_of(Body body) {
  const auto start = std::chrono::steady_clock::now();
  body();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool run_command(const std::string& command) { return std::system(command.c_str()) == 0; }

// The verified backup and its two peers on the same tree, one after another
// in an order that rotates with each iteration, so that none of them always
// runs on a disk the others have just filled. The iteration time is the
// backup's; the peers' times and the ratios are counters (means).
void BM_BackupAgainstPeers(benchmark::State& state) {
  const std::string source = bench_root + "/" + tree_name(static_cast<int>(state.range(0)));
  double backup_total = 0;
  double rsync_total = 0;
  double copy_diff_total = 0;
  int iteration = 0;
  for (auto _ : state) {
    double backup_seconds = 0;
    std::string failure;  // the first copy that failed ends the benchmark
    for (int step = 0; step < 3 && failure.empty(); ++step) {
      const std::string destination = unused_destination();
      switch ((iteration + step) % 3) {
        case 0:
          backup_seconds = seconds_of([&] {
            const auto result = tarnwick::create_backup_snapshot(source, destination);
            if (!result) failure = result.error();
          });
          break;
        case 1: {
          const std::string command = "rsync -a --fsync '" + source + "' '" + destination + "/copy'";
          rsync_total += seconds_of([&] { if (!run_command(command)) failure = "failed: " + command; });
          break;
        }
        default: {
          const std::string command = "cp -a '" + source + "' '" + destination + "/copy' && diff -r '" + source +
                                      "' '" + destination + "/copy'";
          copy_diff_total += seconds_of([&] { if (!run_command(command)) failure = "failed: " + command; });
          break;
        }
      }
    }
    if (!failure.empty()) {
      state.SkipWithError(failure.c_str());
      return;
    }
    state.SetIterationTime(backup_seconds);
    backup_total += backup_seconds;
    ++iteration;
  }
  const double runs = static_cast<double>(iteration);
  state.counters["rsync_s"] = rsync_total / runs;
  state.counters["cp_diff_s"] = copy_diff_total / runs;
  state.counters["ratio_rsync"] = backup_total / rsync_total;
  state.counters["ratio_cp_diff"] = backup_total / copy_diff_total;
}

// The backup alone, for tracing its system calls (strace -c) without the peers'.
void BM_VerifiedBackupAlone(benchmark::State& state) {
  const std::string source = bench_root + "/" + tree_name(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const std::string destination = unused_destination();
    const auto result = tarnwick::create_backup_snapshot(source, destination);
    if (!result) {
      state.SkipWithError(result.error().c_str());
      return;
    }
  }
}

// Three iterations, so each of the three takes each place in the order once.
// 50,000 fsyncs take tens of seconds on a virtual disk.
BENCHMARK(BM_BackupAgainstPeers)->Arg(0)->Arg(1)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VerifiedBackupAlone)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

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
  bench_support::run_and_print_ratios({{}, {"ratio_rsync", "ratio_cp_diff"}});
  benchmark::Shutdown();
  std::filesystem::remove_all(bench_root);
  return 0;
}
