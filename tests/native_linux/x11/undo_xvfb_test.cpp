// Undo through the real program under Xvfb: preview, apply, "Undo last
// apply", confirm; the target field follows the renamed target back and the
// tree is byte for byte what it was.
#include <gtest/gtest.h>

#include <thread>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

// The "Edit file contents" checkbox at the start size.
constexpr Point kEditFileContents{50, 551};

TEST_F(ScreenXvfbTest, UndoLastApplyPutsTheTreeBackAndTheTargetFieldFollowsIt) {
  TempDir tree;
  tree.file("Tarn_root/Tarn notes.txt", "Tarn and Tarn\n", 0640);
  tree.file("Tarn_root/sub/Tarn.bin", "plain");
  const TreeSnapshot original = snapshot_tree(tree.path());

  retype(kTargetField, tree / "Tarn_root");
  keys("Escape");
  click(kEditFileContents);
  keys("Return");
  wait_for_review("renames /");
  click(kApplyReviewed);
  settle();
  click(kConfirmBackupCheckbox);  // off
  click(kConfirmApply);
  wait_for_review("CHANGES COMPLETE");
  EXPECT_EQ(field_text(kTargetField, tree / "Tarnwick_root"), tree / "Tarnwick_root");
  keys("Escape");

  click(kApplyReviewed);  // the completion report's "Undo last apply"
  const std::string undo = wait_for_review("UNDO PREVIEW");
  EXPECT_NE(undo.find("UNDO PREVIEW\n3 renames / 1 content edits / "), std::string::npos) << undo;
  EXPECT_NE(undo.find(tree / "Tarnwick_root\n> " + tree / "Tarn_root\n"), std::string::npos) << undo;
  screenshot("undo_preview.png");
  click(kApplyReviewed);
  settle();
  click(kConfirmApply);
  wait_for_review("CHANGES COMPLETE");
  EXPECT_EQ(field_text(kTargetField, tree / "Tarn_root"), tree / "Tarn_root");
  EXPECT_EQ(describe_difference(original, snapshot_tree(tree.path())), "");
}

}  // namespace
}  // namespace tarnwick::testing
