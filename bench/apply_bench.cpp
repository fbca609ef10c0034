// The apply's phases against floors measured in the same run, each pair
// interleaved so that both see the same machine: the rename phase (10,100
// renames at three depths) against the bare renameat2 calls, the content phase
// (1,000 edits of 4 KiB) against a staged write per file (temp file, write,
// fsync, rename); and a whole apply of 10,000 edits. Trees are built under
// TMPDIR (else /tmp), outside the timing.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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
constexpr int kManyEditFolders = 100;
constexpr int kManyEditsPerFolder = 100;  // 10,000 edits
constexpr std::size_t kEditedFileBytes = 4'096;

std::string bench_root() {
  static const std::string root = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tarnwick-apply-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return root;
}

// Wall and CPU time of one timed piece, in seconds.
struct Timing {
  double wall = 0;
  double cpu = 0;
  Timing& operator+=(const Timing& other) {
    wall += other.wall;
    cpu += other.cpu;
    return *this;
  }
};

double clock_seconds(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

Timing time_of(const std::function<bool()>& work, benchmark::State& state, const char* what) {
  const double wall = clock_seconds(CLOCK_MONOTONIC);
  const double cpu = clock_seconds(CLOCK_PROCESS_CPUTIME_ID);
  if (!work()) state.SkipWithError(what);
  return Timing{clock_seconds(CLOCK_MONOTONIC) - wall, clock_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu};
}

// Ours and the floor per iteration, as milliseconds and ratios.
void report_pair(benchmark::State& state, const Timing& ours, const Timing& floor, const std::string& floor_name) {
  const double iterations = static_cast<double>(state.iterations());
  state.counters["ms"] = ours.wall / iterations * 1e3;
  state.counters["cpu_ms"] = ours.cpu / iterations * 1e3;
  state.counters[floor_name + "_ms"] = floor.wall / iterations * 1e3;
  state.counters[floor_name + "_cpu_ms"] = floor.cpu / iterations * 1e3;
  state.counters["ratio_to_" + floor_name] = ours.wall / floor.wall;
  state.counters["cpu_ratio_to_" + floor_name] = ours.cpu / floor.cpu;
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

// files edits of 4 KiB, in folders of per_folder files each (directly in the
// root when one folder holds them all); records in walk order, taken once
// everything exists.
PreviewPlan make_edit_tree(int files, int per_folder) {
  const std::string root = bench_root() + "/edits";
  std::filesystem::create_directories(root);
  const bool nested = per_folder < files;
  std::string original(kEditedFileBytes, 'a');
  original.replace(kEditedFileBytes / 2, 3, "old");
  std::string replacement = original;
  replacement.replace(kEditedFileBytes / 2, 3, "new");
  const auto folder_of = [&](int file) { return nested ? root + "/d" + std::to_string(file / per_folder) : root; };
  const auto path_of = [&](int file) { return folder_of(file) + "/f" + std::to_string(file) + ".txt"; };
  for (int file = 0; file < files; ++file) {
    if (nested && file % per_folder == 0) ::mkdir(folder_of(file).c_str(), 0755);
    std::ofstream(path_of(file), std::ios::binary) << original;
  }
  PreviewPlan plan;
  plan.target_path = root;
  for (int file = 0; file < files; ++file) {
    if (nested && file % per_folder == 0) plan.scan_records.push_back(record_of(folder_of(file), 1));
    ScanRecord record = record_of(path_of(file), nested ? 2 : 1);
    record.original_bytes = original;
    record.replacement_bytes = replacement;
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

bool bare_renames(const PreviewPlan& plan) {
  for (const ScanRecord* record : deepest_first(plan)) {
    if (::renameat2(AT_FDCWD, record->original_path.c_str(), AT_FDCWD, record->own_renamed_path.c_str(),
                    RENAME_NOREPLACE) != 0) {
      return false;
    }
  }
  return true;
}

// The journal written and flushed, the renames made, and the commit mark
// flushed with the changed folders; the journal's removal is left out, as
// the recovery files' removal is in the content phase.
void BM_RenamePhase(benchmark::State& state) {
  Timing ours, floor;
  for (auto _ : state) {
    const PreviewPlan plan = make_rename_tree();
    std::optional<apply::Transaction> transaction;
    const Timing once = time_of([&] {
      auto begun = apply::Transaction::begin(plan);
      if (!begun) return false;
      transaction.emplace(std::move(*begun));
      return transaction->write_journal() && transaction->rename_entries() && transaction->commit();
    }, state, "rename phase failed");
    ours += once;
    if (transaction && !transaction->finish().journal.empty()) state.SkipWithError("cleanup failed");
    remove_trees();
    const PreviewPlan bare = make_rename_tree();
    floor += time_of([&] { return bare_renames(bare); }, state, "renameat2 failed");
    remove_trees();
    state.SetIterationTime(once.wall);
  }
  report_pair(state, ours, floor, "renameat2");
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

bool staged_writes(const PreviewPlan& plan) {
  for (const ScanRecord& record : plan.scan_records) {
    const std::string temp = record.original_path + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const std::string& bytes = *record.replacement_bytes;
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd) != 0 ||
        ::close(fd) != 0 || ::rename(temp.c_str(), record.original_path.c_str()) != 0) {
      return false;
    }
  }
  return true;
}

// The content phase, then apart from it the final cleanup (every recovery
// file read back and removed, its folder flushed, the journal removed).
void BM_ContentPhase(benchmark::State& state) {
  Timing ours, cleanup, floor;
  for (auto _ : state) {
    const PreviewPlan plan = make_edit_tree(kEditedFiles, kEditedFiles);
    std::optional<apply::Transaction> transaction;
    const Timing once = time_of([&] {
      auto done = run_content_phase(plan);
      if (done) transaction.emplace(std::move(*done));
      return done.has_value();
    }, state, "content phase failed");
    ours += once;
    cleanup += time_of([&] {
      if (!transaction) return false;
      const apply::Transaction::Cleanup left = transaction->finish();
      return left.recovery_files.empty() && left.journal.empty();
    }, state, "cleanup failed");
    remove_trees();
    const PreviewPlan staged = make_edit_tree(kEditedFiles, kEditedFiles);
    floor += time_of([&] { return staged_writes(staged); }, state, "staged write failed");
    remove_trees();
    state.SetIterationTime(once.wall);
  }
  report_pair(state, ours, floor, "staged_write");
  state.counters["cleanup_ms"] = cleanup.wall / static_cast<double>(state.iterations()) * 1e3;
}

// A whole apply without backup: both verifications, the transaction and the
// final cleanup, 10,000 edits in 100 folders.
void BM_Apply10000Edits(benchmark::State& state) {
  Timing apply;
  for (auto _ : state) {
    PreviewPlan plan = make_edit_tree(kManyEditFolders * kManyEditsPerFolder, kManyEditsPerFolder);
    std::string failure;
    const Timing once = time_of([&] {
      ApplyFinished finished = run_apply(std::move(plan), std::nullopt);
      if (!finished.outcome) failure = finished.outcome.error();
      return finished.outcome.has_value();
    }, state, "apply failed");
    if (!failure.empty()) std::fprintf(stderr, "%s\n", failure.c_str());
    apply += once;
    remove_trees();
    state.SetIterationTime(once.wall);
  }
  state.counters["ms"] = apply.wall / static_cast<double>(state.iterations()) * 1e3;
  state.counters["cpu_ms"] = apply.cpu / static_cast<double>(state.iterations()) * 1e3;
}

BENCHMARK(BM_RenamePhase)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_ContentPhase)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
BENCHMARK(BM_Apply10000Edits)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  // Wall time first: the phases wait for the disk, which CPU time does not show.
  bench_support::run_and_print_ratios({{}, {"ratio_to_renameat2", "cpu_ratio_to_renameat2", "ratio_to_staged_write",
                                            "cpu_ratio_to_staged_write"}});
  benchmark::Shutdown();
  std::filesystem::remove_all(bench_root());
  return 0;
}
