// The apply's rename phase (10,100 renames at three depths) and content phase
// (1,000 edits of 4 KiB), each with the transaction journal written and
// flushed before the first change, the changed folders flushed after the
// last, and the commit, against floors measured in the same run: the bare
// renameat2 calls, and a staged write per file (temp file, write, fsync, rename).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/apply.h"
#include "engine/scan.h"
#include "peer_ratios.h"

namespace {

using namespace tarnwick;

constexpr int kTopFolders = 100;
constexpr int kSubFolders = 10;  // per top folder
constexpr int kFilesPerSub = 9;  // 100 + 1,000 + 9,000 = 10,100 renames
constexpr int kEditedFiles = 1'000;
constexpr std::size_t kEditedFileBytes = 4'096;

std::string bench_root() {
  static const std::string root = [] {
    std::string pattern = "/tmp/tarnwick-apply-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return root;
}

ScanRecord record_of(const std::string& path, std::uint64_t depth) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) std::abort();
  ScanRecord record;
  record.original_path = path;
  record.own_renamed_path = path;
  record.identity = identity_of(status);
  record.depth = depth;
  return record;
}

std::string renamed(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = path.substr(slash + 1);
  name.replace(name.find("old"), 3, "new");
  return path.substr(0, slash + 1) + name;
}

// A tree whose every entry below the root is renamed; records in walk order.
PreviewPlan make_rename_tree() {
  const std::string root = bench_root() + "/renames";
  std::filesystem::create_directories(root);
  PreviewPlan plan;
  plan.target_path = root;
  for (int top = 0; top < kTopFolders; ++top) {
    const std::string top_path = root + "/top_old_" + std::to_string(top);
    ::mkdir(top_path.c_str(), 0755);
    plan.scan_records.push_back(record_of(top_path, 1));
    for (int sub = 0; sub < kSubFolders; ++sub) {
      const std::string sub_path = top_path + "/sub_old_" + std::to_string(sub);
      ::mkdir(sub_path.c_str(), 0755);
      plan.scan_records.push_back(record_of(sub_path, 2));
      for (int file = 0; file < kFilesPerSub; ++file) {
        const std::string file_path = sub_path + "/file_old_" + std::to_string(file) + ".txt";
        std::ofstream(file_path) << "x";
        plan.scan_records.push_back(record_of(file_path, 3));
      }
    }
  }
  for (ScanRecord& record : plan.scan_records) record.own_renamed_path = renamed(record.original_path);
  // The tree is on disk before the timing starts, as a user's tree would be.
  ::sync();
  return plan;
}

PreviewPlan make_edit_tree() {
  const std::string root = bench_root() + "/edits";
  std::filesystem::create_directories(root);
  PreviewPlan plan;
  plan.target_path = root;
  for (int file = 0; file < kEditedFiles; ++file) {
    const std::string path = root + "/f" + std::to_string(file) + ".txt";
    std::string bytes(kEditedFileBytes, 'a');
    bytes.replace(kEditedFileBytes / 2, 3, "old");
    std::ofstream(path, std::ios::binary) << bytes;
    ScanRecord record = record_of(path, 1);
    record.original_bytes = bytes;
    bytes.replace(kEditedFileBytes / 2, 3, "new");
    record.replacement_bytes = std::move(bytes);
    plan.scan_records.push_back(std::move(record));
  }
  ::sync();
  return plan;
}

void remove_trees() {
  std::filesystem::remove_all(bench_root() + "/renames");
  std::filesystem::remove_all(bench_root() + "/edits");
}

std::vector<const ScanRecord*> deepest_first(const PreviewPlan& plan) {
  std::vector<const ScanRecord*> order;
  for (const ScanRecord& record : plan.scan_records) order.push_back(&record);
  std::stable_sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->depth > b->depth; });
  return order;
}

// The journal is written and flushed, the renames made, and the commit mark
// flushed with the changed folders; the journal's removal is left out of the
// timing, as the recovery files' removal is in the content phase.
void BM_RenamePhase(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const PreviewPlan plan = make_rename_tree();
    state.ResumeTiming();
    auto transaction = apply::Transaction::begin(plan);
    if (!transaction || !transaction->write_journal() || !transaction->rename_entries() || !transaction->commit()) {
      state.SkipWithError("rename phase failed");
    }
    state.PauseTiming();
    if (transaction && (!transaction->finish().recovery_files.empty())) state.SkipWithError("cleanup failed");
    remove_trees();
    state.ResumeTiming();
  }
  state.counters["renames"] = static_cast<double>(kTopFolders * kSubFolders * (kFilesPerSub + 1) + kTopFolders);
}

void BM_RenameFloor_renameat2(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const PreviewPlan plan = make_rename_tree();
    const std::vector<const ScanRecord*> order = deepest_first(plan);
    state.ResumeTiming();
    for (const ScanRecord* record : order) {
      if (::renameat2(AT_FDCWD, record->original_path.c_str(), AT_FDCWD, record->own_renamed_path.c_str(),
                      RENAME_NOREPLACE) != 0) {
        state.SkipWithError("renameat2 failed");
      }
    }
    state.PauseTiming();
    remove_trees();
    state.ResumeTiming();
  }
}

// Journal, stage files written and flushed, installs, and the commit mark
// flushed with the changed folder.
Result<apply::Transaction> run_content_phase(const PreviewPlan& plan) {
  apply::Transaction transaction = TRY(apply::Transaction::begin(plan));
  TRY(transaction.write_journal());
  TRY(transaction.stage_contents());
  TRY(transaction.flush_journal());
  TRY(transaction.install_contents());
  TRY(transaction.commit());
  return transaction;
}

void BM_ContentPhase(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const PreviewPlan plan = make_edit_tree();
    state.ResumeTiming();
    auto transaction = run_content_phase(plan);
    if (!transaction) state.SkipWithError("content phase failed");
    state.PauseTiming();
    if (transaction && !transaction->finish().recovery_files.empty()) state.SkipWithError("cleanup failed");
    remove_trees();
    state.ResumeTiming();
  }
}

// The same with the final cleanup: every recovery file read back and removed,
// its folder flushed, the journal removed.
void BM_ContentPhaseWithCleanup(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const PreviewPlan plan = make_edit_tree();
    state.ResumeTiming();
    auto transaction = run_content_phase(plan);
    if (!transaction) state.SkipWithError("content phase failed");
    if (transaction) {
      const apply::Transaction::Cleanup cleanup = transaction->finish();
      if (!cleanup.recovery_files.empty() || !cleanup.journal.empty()) state.SkipWithError("cleanup failed");
    }
    state.PauseTiming();
    remove_trees();
    state.ResumeTiming();
  }
}

void BM_ContentFloor_stagedWrite(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    const PreviewPlan plan = make_edit_tree();
    state.ResumeTiming();
    for (const ScanRecord& record : plan.scan_records) {
      const std::string temp = record.original_path + ".tmp";
      const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      const std::string& bytes = *record.replacement_bytes;
      if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd) != 0 ||
          ::close(fd) != 0 || ::rename(temp.c_str(), record.original_path.c_str()) != 0) {
        state.SkipWithError("staged write failed");
      }
    }
    state.PauseTiming();
    remove_trees();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_RenamePhase)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RenameFloor_renameat2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ContentPhase)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ContentPhaseWithCleanup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ContentFloor_stagedWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Real time: the phases wait for the disk, which CPU time does not show.
  using bench_support::Measure;
  bench_support::run_and_print_ratios(
      {{{"BM_RenamePhase/iterations:5/real_time", "BM_RenameFloor_renameat2/iterations:5/real_time", Measure::RealTime},
        {"BM_ContentPhase/iterations:3/real_time", "BM_ContentFloor_stagedWrite/iterations:3/real_time",
         Measure::RealTime}},
       {}});
  benchmark::Shutdown();
  std::filesystem::remove_all(bench_root());
  return 0;
}
