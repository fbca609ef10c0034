// Recover: an apply killed (SIGKILL) before any of its filesystem calls, and a
// Recover killed the same way, always end with the tree exactly as before the
// apply (or fully applied, when the kill came after the apply's cleanup had
// removed an original) and with no hidden file left.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <variant>

#include "common/fs_testing.h"
#include "engine/apply_support.h"
#include "engine/preview_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;
using testing::TreeSnapshot;

using testing::Fixture;

const std::vector<Fixture>& fixtures() {
  static const std::vector<Fixture> all = {
      {"nested renames and three encodings",
       [](TempDir& dir) {
         dir.folder("t/old_top", 0750);
         dir.file("t/old_top/old_mid/deep_old.txt", "an old line\n", 0640);
         dir.file("t/old_top/old_mid/wide.txt", testing::utf16("old wide text", false));
         dir.file("t/old_top/big_endian_old.txt", testing::utf16("old", true));
         dir.file("t/old_top/untouched.txt", "nothing here");
         dir.file("t/x_old", "x");
         return dir / "t";
       }},
      {"renamed target",
       [](TempDir& dir) {
         dir.file("old_t/old_f.txt", "old");
         dir.file("old_t/in/g.txt", "old\n");
         return dir / "old_t";
       }},
  };
  return all;
}

// Runs body in a child that is killed with SIGKILL right before its Nth
// filesystem call; false when the body finished before that call.
bool killed_at(std::uint64_t call, const std::function<void()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    sys::testing::install(std::nullopt);
    sys::testing::on_call(call, [] { ::kill(::getpid(), SIGKILL); });
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// The journal a preview of the folder holding the target is refused with.
std::optional<std::string> refused_with_journal(const TempDir& dir) {
  const PreviewFinished finished = run_preview(testing::preview_request(dir.path(), "x"));
  if (finished.plan) return std::nullopt;
  EXPECT_TRUE(finished.interrupted_apply_journal) << finished.plan.error();
  if (finished.interrupted_apply_journal) {
    EXPECT_EQ(finished.plan.error(), "An earlier apply was interrupted here. Recover it before previewing.\nPath: " +
                                         *finished.interrupted_apply_journal);
  }
  return finished.interrupted_apply_journal;
}

struct Trees {
  TreeSnapshot original;
  TreeSnapshot applied;
};

Trees trees_of(const Fixture& fixture) {
  Trees trees;
  TempDir dir;
  const std::string target = fixture.build(dir);
  trees.original = testing::snapshot_tree(dir.path());
  EXPECT_TRUE(run_apply(testing::plan_of(target, "old", "new"), std::nullopt).outcome);
  trees.applied = testing::snapshot_tree(dir.path());
  return trees;
}

std::uint64_t calls_of(const std::function<void()>& body) {
  sys::testing::ScopedFaults counting;
  body();
  return sys::testing::calls_made();
}

// After a kill and any Recover: the tree is whole and no hidden file is left.
void expect_whole(const TempDir& dir, const Trees& trees, const std::string& context) {
  const TreeSnapshot after = testing::snapshot_tree(dir.path());
  EXPECT_EQ(testing::hidden_files(after), std::vector<std::string>{}) << context;
  const std::string to_original = testing::describe_difference(trees.original, after);
  if (!to_original.empty()) {
    EXPECT_EQ(testing::describe_difference(trees.applied, after), "") << context << to_original;
  }
}

struct Counts {
  int recovered = 0, completed = 0, no_journal = 0;
};

void recover_and_check(const TempDir& dir, const Trees& trees, const std::string& context, Counts& counts) {
  const std::optional<std::string> journal = refused_with_journal(dir);
  if (!journal) {
    ++counts.no_journal;
  } else {
    const RecoverFinished finished = run_recover(*journal);
    ASSERT_TRUE(finished.outcome) << context << finished.outcome.error();
    const bool completed = finished.outcome->kind == RecoverOutcome::Kind::Completed;
    ++(completed ? counts.completed : counts.recovered);
    EXPECT_EQ(refused_with_journal(dir), std::nullopt) << context;
    // An apply that never reported success is undone, unless its cleanup had
    // already removed an original.
    if (!completed) {
      EXPECT_EQ(testing::describe_difference(trees.original, testing::snapshot_tree(dir.path())), "") << context;
    }
  }
  expect_whole(dir, trees, context);
}

TEST(RecoverKillSweep, AnApplyKilledAtAnyCallIsRecoveredWhole) {
  const testing::FastTempRoot fast;
  for (const Fixture& fixture : fixtures()) {
    SCOPED_TRACE(fixture.name);
    const Trees trees = trees_of(fixture);
    TempDir counting;
    const PreviewPlan counted = testing::plan_of(fixture.build(counting), "old", "new");
    const std::uint64_t points = calls_of([&] { (void)run_apply(counted, std::nullopt); });
    Counts counts;
    for (std::uint64_t call = 1; call <= points; ++call) {
      TempDir dir;
      const PreviewPlan plan = testing::plan_of(fixture.build(dir), "old", "new");
      ASSERT_TRUE(killed_at(call, [&] { (void)run_apply(plan, std::nullopt); })) << call;
      recover_and_check(dir, trees, "apply killed at call " + std::to_string(call) + "\n", counts);
      if (::testing::Test::HasFailure()) return;
    }
    std::printf("[ kills    ] %s: %llu kill points: %d recovered, %d completed by Recover, %d without journal\n",
                fixture.name, static_cast<unsigned long long>(points), counts.recovered, counts.completed,
                counts.no_journal);
    EXPECT_GT(counts.recovered, 0);
    EXPECT_GT(counts.completed, 0);
  }
}

TEST(RecoverKillSweep, ARecoverKilledAtAnyCallIsFinishedByTheNext) {
  const testing::FastTempRoot fast;
  const Fixture& fixture = fixtures().front();
  const Trees trees = trees_of(fixture);
  TempDir counting;
  const PreviewPlan counted = testing::plan_of(fixture.build(counting), "old", "new");
  const std::uint64_t points = calls_of([&] { (void)run_apply(counted, std::nullopt); });
  Counts counts;
  std::uint64_t recover_points = 0;
  // A handful of apply kills spread over the phases, each followed by a
  // Recover killed at every one of its calls.
  for (std::uint64_t apply_call = points / 8; apply_call < points; apply_call += points / 8) {
    for (std::uint64_t recover_call = 1;; ++recover_call) {
      TempDir dir;
      const PreviewPlan plan = testing::plan_of(fixture.build(dir), "old", "new");
      ASSERT_TRUE(killed_at(apply_call, [&] { (void)run_apply(plan, std::nullopt); }));
      const std::optional<std::string> journal = refused_with_journal(dir);
      if (!journal) break;
      const std::string context =
          "apply killed at " + std::to_string(apply_call) + ", recover at " + std::to_string(recover_call) + "\n";
      if (!killed_at(recover_call, [&] { (void)run_recover(*journal); })) {
        expect_whole(dir, trees, context);
        break;
      }
      ++recover_points;
      recover_and_check(dir, trees, context, counts);
      if (::testing::Test::HasFailure()) return;
    }
  }
  std::printf("[ kills    ] %llu Recover kill points: %d finished by a second Recover, %d had nothing left\n",
              static_cast<unsigned long long>(recover_points), counts.recovered + counts.completed, counts.no_journal);
  EXPECT_GT(recover_points, 50u) << "the sweep lost its reach";
}

// What the screen relies on: Recover started as a worker sends exactly one
// RecoverFinished, says what it did, and refuses a path that is no journal.
TEST(RecoverWorker, SendsOneEventWithItsOutcomeAndRefusesWhatIsNoJournal) {
  TempDir counting;
  const PreviewPlan counted = testing::plan_of(fixtures().back().build(counting), "old", "new");
  const std::uint64_t points = calls_of([&] { (void)run_apply(counted, std::nullopt); });
  TempDir dir;
  const std::string target = fixtures().back().build(dir);
  const TreeSnapshot original = testing::snapshot_tree(dir.path());
  const PreviewPlan plan = testing::plan_of(target, "old", "new");
  ASSERT_TRUE(killed_at(points * 3 / 4, [&] { (void)run_apply(plan, std::nullopt); }));
  const std::optional<std::string> journal = refused_with_journal(dir);
  ASSERT_TRUE(journal);

  auto [sender, receiver] = make_channel<WorkerEvent>();
  ASSERT_TRUE(spawn_worker([journal = *journal]() -> WorkerEvent { return run_recover(journal); }, std::move(sender)));
  std::optional<WorkerEvent> event;
  ASSERT_EQ(testing::wait_for_event(receiver, event), PollStatus::Message);
  ASSERT_TRUE(std::holds_alternative<RecoverFinished>(*event));
  const RecoverFinished& finished = std::get<RecoverFinished>(*event);
  EXPECT_EQ(finished.journal_path, *journal);
  ASSERT_TRUE(finished.outcome) << finished.outcome.error();
  EXPECT_EQ(finished.outcome->kind, RecoverOutcome::Kind::RolledBack);
  EXPECT_EQ(finished.outcome->target_path, target);
  EXPECT_EQ(recover_outcome_text(*finished.outcome),
            "The interrupted apply was rolled back. Every file is as it was before that apply.");
  EXPECT_EQ(testing::describe_difference(original, testing::snapshot_tree(dir.path())), "");
  event.reset();
  EXPECT_EQ(receiver.try_receive(event), PollStatus::Disconnected) << "exactly one event";

  // A path that is not a journal changes nothing and says so.
  const std::string other = dir.file("t_copy/.tarnwick-1-2-stage", "old");
  for (const std::string& path : {other, std::string("relative/.tarnwick-1-2-journal")}) {
    const RecoverFinished refused = run_recover(path);
    ASSERT_FALSE(refused.outcome);
    EXPECT_EQ(refused.outcome.error(),
              "Cannot recover the interrupted apply: this is not a transaction journal\nPath: " + path);
    EXPECT_FALSE(refused.failure_lists_files_to_preserve);
  }
  EXPECT_EQ(testing::read_file(other), "old");
}

}  // namespace
}  // namespace tarnwick
