// Every filesystem call of an apply failing in turn, once and from then on:
// the tree ends as it was or fully applied, and every leftover is named.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <functional>

#include "common/fs_testing.h"
#include "engine/apply_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;
using testing::TreeSnapshot;

struct Fixture {
  const char* name;
  std::function<std::string(TempDir&)> build;  // returns the target
};

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
constexpr std::array<const char*, 25> kLeads = {
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

struct SweepRun {
  std::string text;
  bool lists_files_to_preserve = false;
  TreeSnapshot after;
  std::string root;
};

SweepRun run_with(const Fixture& fixture, std::optional<sys::testing::Fault> fault) {
  TempDir dir;
  const std::string target = fixture.build(dir);
  const PreviewPlan plan = testing::plan_of(target, "old", "new");
  sys::testing::install(fault);
  const ApplyFinished finished = run_apply(plan, std::nullopt);
  sys::testing::clear();
  return SweepRun{testing::failure_text(finished), finished.failure_lists_files_to_preserve,
                  testing::snapshot_tree(dir.path()), dir.path()};
}

struct Endings {
  std::uint64_t applied = 0, refused = 0, rolled_back = 0, leftovers = 0, incomplete = 0;
};

void check_run(const SweepRun& run, bool persistent, const TreeSnapshot& original, const TreeSnapshot& applied,
               Endings& endings) {
  for (const std::string& hidden : testing::hidden_files(run.after)) {
    EXPECT_NE(run.text.find(run.root + "/" + hidden), std::string::npos) << "leftover not named: " << hidden;
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
    EXPECT_TRUE(persistent) << "one failure must always be undone:\n" << run.text;
    EXPECT_EQ(lost_data(original, run.after), "") << run.text;
    return;
  }
  ++(run.text.find("\nApplied changes were rolled back.") != std::string::npos ? endings.rolled_back : endings.refused);
  EXPECT_EQ(testing::describe_difference(original, visible), "") << run.text;
}

TEST(ApplyFaultSweep, EveryCallFailingLeavesTheTreeWholeAndNamesEveryLeftover) {
  std::uint64_t total_points = 0;
  Endings endings;
  for (const Fixture& fixture : fixtures()) {
    SCOPED_TRACE(fixture.name);
    TreeSnapshot original;
    {
      TempDir dir;
      fixture.build(dir);
      original = testing::snapshot_tree(dir.path());
    }
    const SweepRun clean = run_with(fixture, std::nullopt);
    ASSERT_EQ(clean.text, "");
    TempDir counting;
    const PreviewPlan plan = testing::plan_of(fixture.build(counting), "old", "new");
    sys::testing::install(std::nullopt);
    ASSERT_TRUE(run_apply(plan, std::nullopt).outcome);
    const std::uint64_t points = sys::testing::calls_made();
    sys::testing::clear();
    std::printf("[ sweep    ] %s: %llu injection points\n", fixture.name, static_cast<unsigned long long>(points));
    total_points += points;

    for (std::uint64_t call = 1; call <= points; ++call) {
      for (const bool persistent : {false, true}) {
        const int error = kErrors[call % kErrors.size()];
        SCOPED_TRACE("call " + std::to_string(call) + (persistent ? " persistent " : " once ") + std::to_string(error));
        const SweepRun run = run_with(fixture, sys::testing::Fault{call, error, persistent, std::nullopt});
        check_run(run, persistent, original, clean.after, endings);
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  std::printf("[ sweep    ] endings: %llu applied, %llu refused unchanged, %llu rolled back, %llu applied with "
              "leftovers, %llu recovery incomplete\n",
              static_cast<unsigned long long>(endings.applied), static_cast<unsigned long long>(endings.refused),
              static_cast<unsigned long long>(endings.rolled_back), static_cast<unsigned long long>(endings.leftovers),
              static_cast<unsigned long long>(endings.incomplete));
  EXPECT_GT(total_points, 100u) << "the sweep lost its reach";
  EXPECT_GT(endings.rolled_back, 0u);
  EXPECT_GT(endings.incomplete, 0u);
}

}  // namespace
}  // namespace tarnwick
