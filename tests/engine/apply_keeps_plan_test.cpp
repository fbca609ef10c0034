// An apply that stops before its first change gives its plan back with the
// failure, so that the same preview can be applied once the cause is mended;
// a stale plan or any change to the target ends the preview as before.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/fs_testing.h"
#include "engine/apply_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;

std::vector<std::string> change_paths(const PreviewPlan& plan) {
  std::vector<std::string> paths;
  for (const ChangeEntry& change : plan.changes) paths.push_back(change.original_path + " > " + change.final_path);
  return paths;
}

class ApplyKeepsPlan : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.file("t/a_old", "old");
    dir.file("t/sub/b.txt", "an old line");
    dir.folder("t/inside");
    ASSERT_EQ(::chmod(destination.path().c_str(), 0755), 0);
  }
  std::string target() const { return dir / "t"; }
  TempDir dir;
  TempDir destination;
};

TEST_F(ApplyKeepsPlan, FailuresBeforeAnyChangeGiveThePlanBackAndItAppliesOnceMended) {
  const std::string a_file = dir.file("not-a-folder", "x");
  struct Case {
    const char* name;
    std::string destination;
  };
  const Case cases[] = {
      {"empty destination", ""},
      {"missing destination", dir / "missing"},
      {"destination inside the target", dir / "t/inside"},
      {"backup refused by a file as its destination", a_file},
  };
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  const auto before = testing::snapshot_tree(dir.path());
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ApplyFinished finished = run_apply(plan, test.destination);
    ASSERT_FALSE(finished.outcome.has_value());
    EXPECT_FALSE(finished.outcome.error().empty());
    ASSERT_TRUE(finished.unchanged_plan.has_value()) << finished.outcome.error();
    EXPECT_EQ(change_paths(*finished.unchanged_plan), change_paths(plan));
    EXPECT_EQ(finished.unchanged_plan->scan_records.size(), plan.scan_records.size());
    EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(dir.path())), "");
  }
  // The plan that came back applies as it is, once the destination is right.
  ApplyFinished failed = run_apply(plan, dir / "missing");
  ASSERT_TRUE(failed.unchanged_plan.has_value());
  const ApplyFinished applied = run_apply(std::move(*failed.unchanged_plan), destination.path());
  ASSERT_TRUE(applied.outcome.has_value()) << applied.outcome.error();
  EXPECT_EQ(testing::read_file(dir / "t/a_new"), "new");
  EXPECT_EQ(testing::read_file(dir / "t/sub/b.txt"), "an new line");
  ASSERT_TRUE(applied.outcome->backup.has_value());
}

TEST_F(ApplyKeepsPlan, AStalePlanOrAnyChangeToTheTargetEndsThePreview) {
  {
    SCOPED_TRACE("verification finds a changed file, with and without a destination");
    const PreviewPlan plan = testing::plan_of(target(), "old", "new");
    testing::write_file(dir / "t/sub/b.txt", "an old line, edited");
    for (const std::optional<std::string>& to : {std::optional<std::string>(), std::optional(destination.path())}) {
      const ApplyFinished finished = run_apply(plan, to);
      ASSERT_FALSE(finished.outcome.has_value());
      EXPECT_TRUE(finished.outcome.error().starts_with("Selection changed since preview")) << finished.outcome.error();
      EXPECT_FALSE(finished.unchanged_plan.has_value());
    }
  }
  {
    SCOPED_TRACE("a failure after the first change, rolled back");
    const PreviewPlan plan = testing::plan_of(target(), "old", "new");
    sys::testing::ScopedFaults faults(sys::testing::Fault{.call_number = 3, .error = EIO, .only = sys::Call::Rename});
    const ApplyFinished finished = run_apply(plan, std::nullopt);
    ASSERT_FALSE(finished.outcome.has_value());
    EXPECT_TRUE(finished.outcome.error().ends_with("Applied changes were rolled back.")) << finished.outcome.error();
    EXPECT_FALSE(finished.unchanged_plan.has_value());
  }
  {
    SCOPED_TRACE("success");
    const ApplyFinished finished = run_apply(testing::plan_of(target(), "old", "new"), std::nullopt);
    ASSERT_TRUE(finished.outcome.has_value()) << finished.outcome.error();
    EXPECT_FALSE(finished.unchanged_plan.has_value());
  }
}

}  // namespace
}  // namespace tarnwick
