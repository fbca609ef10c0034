// Real failures without injection: a full filesystem, immutable entries and a
// folder the user may not write, each rolled back to the original tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "engine/apply_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;

constexpr const char* kRolledBack = "\nApplied changes were rolled back.";

class ApplyRealFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount, chattr and drop privileges";
  }
  TempDir dir;
  testing::TreeSnapshot snapshot() const { return testing::snapshot_tree(dir.path()); }
};

TEST_F(ApplyRealFailure, FullFilesystemWhileStagingRollsBack) {
  const std::string mount_point = dir.folder("mnt");
  if (testing::run_command("mount -t tmpfs -o size=256k tarnwick-test " + mount_point) != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { testing::run_command("umount " + path); }
  } unmount{mount_point};
  // The first file fits beside its stage file; the second's stage file does not.
  dir.file("mnt/t/a.txt", "old\n");
  dir.file("mnt/t/b.txt", "old\n" + std::string(150 * 1024, 'x'));
  const PreviewPlan plan = testing::plan_of(dir / "mnt/t", "old", "new");
  const auto before = snapshot();
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  EXPECT_TRUE(text.starts_with("Cannot stage replacement: No space left on device (os error 28)\nPath: " +
                               dir / "mnt/t/.tarnwick-"))
      << text;
  EXPECT_TRUE(text.ends_with(kRolledBack)) << text;
  EXPECT_EQ(testing::describe_difference(before, snapshot()), "");
}

TEST_F(ApplyRealFailure, ImmutableEntriesRefuseAndRollBack) {
  struct Case {
    const char* immutable;
    const char* expected_lead;
    const char* failing;
  };
  const Case cases[] = {
      {"t/f_old", "Cannot rename entry: Operation not permitted (os error 1)", "t/f_old"},
      {"t/sub", "Cannot rename entry: Operation not permitted (os error 1)", "t/sub/g_old"},
      {"t/x.txt", "Cannot install replacement: Operation not permitted (os error 1)", "t/x.txt"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.immutable);
    TempDir fresh;
    fresh.file("t/a.txt", "old");
    fresh.file("t/f_old", "f");
    fresh.file("t/sub/g_old", "g");
    fresh.file("t/x.txt", "old");
    // Planned first: the preview refuses immutable entries that the apply would change.
    const PreviewPlan plan = testing::plan_of(fresh / "t", "old", "new");
    if (testing::run_command("chattr +i " + fresh / test.immutable) != 0) GTEST_SKIP() << "no chattr here";
    const auto before = testing::snapshot_tree(fresh.path());
    const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
    testing::run_command("chattr -i " + fresh / test.immutable);
    EXPECT_EQ(text, std::string(test.expected_lead) + "\nPath: " + fresh / test.failing + kRolledBack);
    EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(fresh.path())), "");
  }
}

TEST_F(ApplyRealFailure, UnwritableFolderForAnOrdinaryUserRollsBack) {
  ::chmod(dir.path().c_str(), 0755);
  dir.file("t/x.txt", "old");
  dir.file("t/locked/f_old", "f");
  testing::run_command("chown -R 65534:65534 " + dir / "t");
  const PreviewPlan plan = testing::plan_of(dir / "t", "old", "new");
  // Handed to root after the preview, which refuses a folder the user may not
  // write; a new owner is no change of the identity the apply verifies.
  ASSERT_EQ(::chown((dir / "t/locked").c_str(), 0, 0), 0);
  const auto before = snapshot();
  const std::string text = testing::text_from_child([&] {
    if (!testing::become_nobody()) return std::string("cannot become nobody");
    return testing::failure_text(run_apply(plan, std::nullopt));
  });
  EXPECT_EQ(text, "Cannot rename entry: Permission denied (os error 13)\nPath: " + dir / "t/locked/f_old" + kRolledBack);
  EXPECT_EQ(testing::describe_difference(before, snapshot()), "");
}

}  // namespace
}  // namespace tarnwick
