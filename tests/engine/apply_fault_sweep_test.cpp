// Every filesystem call of an apply failing in turn, once and from then on:
// the tree ends as it was or fully applied, and every leftover is named.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <sys/stat.h>

#include "common/fs_testing.h"
#include "engine/apply_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;
using testing::TreeSnapshot;

using testing::Fixture;

const std::vector<Fixture>& fixtures() {
  static const std::vector<Fixture> all = {
      {"three depths",
       [](TempDir& dir) {
         dir.file("t/old_a/old_b/c_old.txt", "old c");
         dir.file("t/old_a/plain.txt", "plain");
         dir.file("t/x.txt", "x old x", 0600);
         dir.file("t/sub/old_d.bin", "d");
         return dir / "t";
       }},
      {"renamed target",
       [](TempDir& dir) {
         dir.file("old_root/old_file", "old");
         dir.file("old_root/inner/f.txt", "an old line\n", 0640);
         return dir / "old_root";
       }},
      {"single file",
       [](TempDir& dir) {
         dir.file("old_single.txt", "old old");
         return dir / "old_single.txt";
       }},
  };
  return all;
}

constexpr std::array<int, 5> kErrors = {EIO, ENOSPC, EPERM, EEXIST, EXDEV};

// Leading texts an apply may stop with; anything else is a wrong message.
constexpr std::array<const char*, 32> kLeads = {
    "Selection changed since preview: ",       "File data changed since preview: ",
    "Folder contents changed since preview: ", "Cannot open file: ",
    "Cannot inspect open file: ",              "Cannot read file: ",
    "Cannot read folder: ",                    "Cannot enumerate folder: ",
    "Cannot inspect selected path: ",          "Cannot verify destination: ",
    "Cannot create transaction file: ",        "Could not reserve a unique transaction filename.",
    "Cannot preserve original file security: ", "Cannot stage replacement: ",
    "Cannot flush replacement: ",              "Cannot remove temporary transaction file: ",
    "Cannot install replacement: ",            "Rename source disappeared: ",
    "Cannot rename entry: ",                   "Installed text changed during operation: ",
    "File changed during operation: ",         "Folder identity changed during operation: ",
    "Changes completed, but some original-data recovery files could not be removed.",
    "File became a link or special file: ",    "File grew beyond the safe size limit: ",
    "Cannot create transaction journal: ",     "Cannot write transaction journal: ",
    "Cannot flush transaction journal: ",      "Cannot flush folder: ",
    "Cannot inspect selected path: ",          "Rename source became a link: ",
    "Changes completed, but the transaction journal could not be removed.",
};

bool has_known_lead(const std::string& text) {
  for (const char* lead : kLeads) {
    if (text.starts_with(lead)) return true;
  }
  return false;
}

// Every byte string of a file before the apply is still held by some file.
std::string lost_data(const TreeSnapshot& before, const TreeSnapshot& after) {
  std::string lost;
  for (const auto& [path, entry] : before) {
    if (entry.type != 'f') continue;
    bool found = false;
    for (const auto& [other_path, other] : after) found = found || (other.type == 'f' && other.content == entry.content);
    if (!found) lost += path + "\n";
  }
  return lost;
}

// A file not intact at its path must have its bytes somewhere, and that place
// must be named: its own path, or a folder above it that kept its new name.
std::string unnamed_displaced_files(const TreeSnapshot& original, const TreeSnapshot& after, const std::string& root,
                                    const std::string& text) {
  std::string unnamed;
  for (const auto& [path, entry] : original) {
    if (entry.type != 'f') continue;
    if (const auto now = after.find(path); now != after.end() && now->second.content == entry.content) continue;
    bool named = false;
    for (const auto& [other_path, other] : after) {
      if (other.type != 'f' || other.content != entry.content) continue;
      for (std::string place = other_path; !named && !place.empty();) {
        const bool own = place == other_path;
        named = text.find(root + "/" + place) != std::string::npos && (own || !original.contains(place));
        const std::size_t slash = place.rfind('/');
        place = slash == std::string::npos ? std::string() : place.substr(0, slash);
      }
    }
    if (!named) unnamed += path + "\n";
  }
  return unnamed;
}

struct SweepRun {
  std::string text;
  bool lists_files_to_preserve = false;
  TreeSnapshot after;
  std::string root;
  bool keeps_undo = false;
};

SweepRun run_with(const Fixture& fixture, std::vector<sys::testing::Fault> faults,
                  const std::optional<std::string>& backup = std::nullopt) {
  TempDir dir;
  const std::string target = fixture.build(dir);
  const PreviewPlan plan = testing::plan_of(target, "old", "new");
  sys::testing::install(std::move(faults));
  const ApplyFinished finished = run_apply(plan, backup);
  sys::testing::clear();
  return SweepRun{testing::failure_text(finished), finished.failure_lists_files_to_preserve,
                  testing::snapshot_tree(dir.path()), dir.path(), finished.undo.has_value()};
}

// The fixture applied without faults, then its undo planned and applied under
// them. A plan refused under the faults says so in build_failure.
SweepRun undo_with(const Fixture& fixture, std::vector<sys::testing::Fault> faults, std::string& build_failure) {
  TempDir dir;
  const std::string target = fixture.build(dir);
  ApplyFinished applied = run_apply(testing::plan_of(target, "old", "new"), std::nullopt);
  EXPECT_TRUE(applied.undo.has_value());
  if (!applied.undo) return {};
  sys::testing::install(std::move(faults));
  Result<PreviewPlan> undo = build_undo_plan(*applied.undo);
  build_failure = undo ? std::string() : undo.error();
  const ApplyFinished finished = undo ? run_apply(std::move(*undo), std::nullopt) : ApplyFinished{};
  sys::testing::clear();
  return SweepRun{testing::failure_text(finished), finished.failure_lists_files_to_preserve,
                  testing::snapshot_tree(dir.path()), dir.path(), finished.undo.has_value()};
}

struct Endings {
  std::uint64_t runs = 0, applied = 0, refused = 0, rolled_back = 0, leftovers = 0, incomplete = 0;
  void print(const char* sweep) const {
    std::printf("[ sweep    ] %s: %llu runs: %llu applied, %llu refused unchanged, %llu rolled back, %llu applied with "
                "leftovers, %llu recovery incomplete\n",
                sweep, static_cast<unsigned long long>(runs), static_cast<unsigned long long>(applied),
                static_cast<unsigned long long>(refused), static_cast<unsigned long long>(rolled_back),
                static_cast<unsigned long long>(leftovers), static_cast<unsigned long long>(incomplete));
  }
};

enum class Incomplete : bool { Forbidden, Allowed };

void check_run(const SweepRun& run, Incomplete incomplete, const TreeSnapshot& original, const TreeSnapshot& applied,
               Endings& endings) {
  ++endings.runs;
  // What completed can be undone; what was rolled back or refused cannot.
  EXPECT_EQ(run.keeps_undo, run.text.empty() || run.text.starts_with("Changes completed, but")) << run.text;
  for (const std::string& hidden : testing::hidden_files(run.after)) {
    EXPECT_NE(run.text.find(run.root + "/" + hidden), std::string::npos) << "leftover not named: " << hidden << "\n"
                                                                         << run.text;
  }
  if (run.text.empty()) {
    ++endings.applied;
    EXPECT_EQ(testing::describe_difference(applied, run.after), "");
    return;
  }
  EXPECT_TRUE(has_known_lead(run.text)) << run.text;
  // The screen keeps exactly the failures that name files to preserve.
  const bool names_files = run.text.starts_with("Changes completed, but") ||
                           run.text.find("\nRecovery is incomplete.") != std::string::npos ||
                           run.text.find("\nTemporary files require manual cleanup:") != std::string::npos;
  EXPECT_EQ(run.lists_files_to_preserve, names_files) << run.text;
  const TreeSnapshot visible = testing::without_hidden_files(run.after);
  if (run.text.starts_with("Changes completed, but")) {
    ++endings.leftovers;
    EXPECT_EQ(testing::describe_difference(applied, visible), "");
    return;
  }
  if (run.text.find("\nRecovery is incomplete.") != std::string::npos) {
    ++endings.incomplete;
    EXPECT_EQ(incomplete, Incomplete::Allowed) << "one failure must always be undone:\n" << run.text;
    EXPECT_EQ(lost_data(original, run.after), "") << run.text;
    EXPECT_EQ(unnamed_displaced_files(original, run.after, run.root, run.text), "") << run.text;
    EXPECT_EQ(run.text.find("restore from your backup"), std::string::npos) << "no backup was made:\n" << run.text;
    return;
  }
  ++(run.text.find("\nApplied changes were rolled back.") != std::string::npos ? endings.rolled_back : endings.refused);
  EXPECT_EQ(testing::describe_difference(original, visible), "") << run.text;
}

// The calls an apply of the fixture makes under these faults.
std::uint64_t calls_of_apply(const Fixture& fixture, std::vector<sys::testing::Fault> faults,
                             const std::optional<std::string>& backup = std::nullopt) {
  TempDir dir;
  const PreviewPlan plan = testing::plan_of(fixture.build(dir), "old", "new");
  sys::testing::ScopedFaults scoped(std::move(faults));
  (void)run_apply(plan, backup);
  return sys::testing::calls_made();
}

struct Baseline {
  TreeSnapshot original;
  TreeSnapshot applied;
  std::uint64_t calls = 0;
  std::array<std::uint64_t, sys::kCallKinds> calls_of_kind{};
};

Baseline baseline_of(const Fixture& fixture) {
  Baseline baseline;
  {
    TempDir dir;
    fixture.build(dir);
    baseline.original = testing::snapshot_tree(dir.path());
  }
  const SweepRun clean = run_with(fixture, {});
  EXPECT_EQ(clean.text, "");
  baseline.applied = clean.after;
  baseline.calls = calls_of_apply(fixture, {});
  for (int kind = 0; kind < sys::kCallKinds; ++kind) {
    baseline.calls_of_kind[static_cast<std::size_t>(kind)] = sys::testing::calls_made(static_cast<sys::Call>(kind));
  }
  return baseline;
}

TEST(ApplyFaultSweep, EveryCallFailingLeavesTheTreeWholeAndNamesEveryLeftover) {
  const testing::FastTempRoot fast;
  std::uint64_t total_points = 0;
  Endings endings;
  for (const Fixture& fixture : fixtures()) {
    SCOPED_TRACE(fixture.name);
    const Baseline baseline = baseline_of(fixture);
    std::printf("[ sweep    ] %s: %llu injection points\n", fixture.name, static_cast<unsigned long long>(baseline.calls));
    total_points += baseline.calls;
    for (std::uint64_t call = 1; call <= baseline.calls; ++call) {
      for (const bool persistent : {false, true}) {
        const int error = kErrors[call % kErrors.size()];
        SCOPED_TRACE("call " + std::to_string(call) + (persistent ? " persistent " : " once ") + std::to_string(error));
        const SweepRun run = run_with(fixture, {{call, error, persistent, std::nullopt}});
        check_run(run, persistent ? Incomplete::Allowed : Incomplete::Forbidden, baseline.original, baseline.applied,
                  endings);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  endings.print("single faults");
  EXPECT_GT(total_points, 100u) << "the sweep lost its reach";
  EXPECT_GT(endings.rolled_back, 0u);
  EXPECT_GT(endings.incomplete, 0u);
}

// The undo of each fixture's apply under the same faults, its planning
// included: the tree ends as the apply left it or as it was before, never in
// between, and every leftover is named.
TEST(ApplyFaultSweep, EveryCallFailingDuringAnUndo) {
  const testing::FastTempRoot fast;
  Endings endings;
  std::uint64_t refused_plans = 0;
  for (const Fixture& fixture : fixtures()) {
    SCOPED_TRACE(fixture.name);
    const Baseline baseline = baseline_of(fixture);
    std::string build_failure;
    const std::uint64_t calls = [&] {
      sys::testing::ScopedFaults counting;
      (void)undo_with(fixture, {}, build_failure);
      return sys::testing::calls_made();
    }();
    EXPECT_EQ(build_failure, "");
    for (std::uint64_t call = 1; call <= calls; ++call) {
      for (const bool persistent : {false, true}) {
        SCOPED_TRACE("call " + std::to_string(call) + (persistent ? " persistent" : " once"));
        const SweepRun run = undo_with(fixture, {{call, kErrors[call % kErrors.size()], persistent, std::nullopt}},
                                       build_failure);
        if (!build_failure.empty()) {
          ++refused_plans;
          EXPECT_EQ(testing::describe_difference(baseline.applied, run.after), "") << build_failure;
        } else {
          // The undo's "before" is the applied tree, and its "applied" the original.
          check_run(run, persistent ? Incomplete::Allowed : Incomplete::Forbidden, baseline.applied,
                    baseline.original, endings);
        }
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  endings.print("undo");
  std::printf("[ sweep    ] undo: %llu plans refused\n", static_cast<unsigned long long>(refused_plans));
  EXPECT_GT(refused_plans, 0u);
  EXPECT_GT(endings.rolled_back, 0u);
  EXPECT_GT(endings.incomplete, 0u);
}

// A signal interrupting any one call changes nothing: the layer retries it.
TEST(ApplyFaultSweep, AnInterruptedCallAnywhereIsRetried) {
  const testing::FastTempRoot fast;
  const Fixture& fixture = fixtures().front();
  const Baseline baseline = baseline_of(fixture);
  for (std::uint64_t call = 1; call <= baseline.calls; ++call) {
    SCOPED_TRACE("call " + std::to_string(call));
    const SweepRun run = run_with(fixture, {{call, EINTR, false, std::nullopt}});
    EXPECT_EQ(run.text, "");
    EXPECT_EQ(testing::describe_difference(baseline.applied, run.after), "");
    if (::testing::Test::HasFailure()) return;
  }
}

// Every rename, every unlink or every flush failing from one of them on,
// while all other calls work.
TEST(ApplyFaultSweep, OneKindOfCallFailingFromThenOnWhileTheOthersWork) {
  const testing::FastTempRoot fast;
  Endings endings;
  for (const Fixture& fixture : fixtures()) {
    SCOPED_TRACE(fixture.name);
    const Baseline baseline = baseline_of(fixture);
    for (const sys::Call kind : {sys::Call::Rename, sys::Call::Unlink, sys::Call::Fsync}) {
      const std::uint64_t count = baseline.calls_of_kind[static_cast<std::size_t>(kind)];
      EXPECT_GT(count, 0u) << sys::call_name(kind);
      for (std::uint64_t call = 1; call <= count; ++call) {
        SCOPED_TRACE(std::string(sys::call_name(kind)) + " " + std::to_string(call) + " on");
        const SweepRun run = run_with(fixture, {{call, kErrors[call % kErrors.size()], true, kind}});
        check_run(run, Incomplete::Allowed, baseline.original, baseline.applied, endings);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  endings.print("one kind failing");
  EXPECT_GT(endings.rolled_back, 0u);
}

// One fault on the way forward and a second one after it, during the
// rollback or the cleanup, at every pair of calls of a small apply: two
// passing failures never keep the tree from ending as it was or applied.
TEST(ApplyFaultSweep, EveryPairOfFaultsOnASmallTree) {
  const testing::FastTempRoot fast;
  const Fixture small{"small", [](TempDir& dir) {
                        dir.file("t/old.txt", "old");
                        return dir / "t";
                      }};
  const Baseline baseline = baseline_of(small);
  Endings endings;
  for (std::uint64_t first = 1; first <= baseline.calls; ++first) {
    const std::uint64_t calls_after_first = calls_of_apply(small, {{first, EIO, false, std::nullopt}});
    for (std::uint64_t second = first + 1; second <= calls_after_first; ++second) {
      SCOPED_TRACE("calls " + std::to_string(first) + " and " + std::to_string(second));
      const SweepRun run = run_with(small, {{first, EIO, false, std::nullopt},
                                            {second, kErrors[second % kErrors.size()], false, std::nullopt}});
      check_run(run, Incomplete::Forbidden, baseline.original, baseline.applied, endings);
      if (::testing::Test::HasFailure()) return;
    }
  }
  endings.print("pairs of faults");
  EXPECT_GT(endings.runs, 500u) << "the sweep lost its reach";
  EXPECT_GT(endings.rolled_back, 100u);
}

// With a backup destination the backup's own calls come first; a failure
// after the backup adds its note, and one before it changes nothing.
TEST(ApplyFaultSweep, EveryCallFailingWithABackupDestination) {
  const testing::FastTempRoot fast;
  const Fixture small{"small with backup", [](TempDir& dir) {
                        dir.file("t/old_d/a.txt", "old");
                        return dir / "t";
                      }};
  const Baseline baseline = baseline_of(small);
  TempDir destination;
  ::chmod(destination.path().c_str(), 0755);
  const std::uint64_t calls = calls_of_apply(small, {}, destination.path());
  Endings endings;
  for (std::uint64_t call = 1; call <= calls; ++call) {
    for (const bool persistent : {false, true}) {
      SCOPED_TRACE("call " + std::to_string(call) + (persistent ? " persistent" : " once"));
      const SweepRun run = run_with(small, {{call, kErrors[call % kErrors.size()], persistent, std::nullopt}},
                                    destination.path());
      SweepRun without_note = run;
      if (const std::size_t note = run.text.find("\nComplete original backup retained at: ");
          note != std::string::npos) {
        without_note.text.erase(note);
      }
      // The backup's own failures come before any change, in the backup's words.
      if (!has_known_lead(without_note.text) && !without_note.text.empty()) {
        EXPECT_EQ(testing::describe_difference(baseline.original, run.after), "") << run.text;
        continue;
      }
      if (without_note.text.find("\nRecovery is incomplete.") != std::string::npos) {
        EXPECT_NE(run.text.find("Preserve these files and restore from your backup:"), std::string::npos) << run.text;
        without_note.text.replace(without_note.text.find(" and restore from your backup"), 29, "");
      }
      check_run(without_note, persistent ? Incomplete::Allowed : Incomplete::Forbidden, baseline.original,
                baseline.applied, endings);
      if (::testing::Test::HasFailure()) return;
    }
  }
  endings.print("with a backup destination");
  EXPECT_GT(endings.rolled_back, 0u);
}

}  // namespace
}  // namespace tarnwick
