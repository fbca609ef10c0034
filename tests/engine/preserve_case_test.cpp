// Preserve case through preview and apply on real trees: every case form of a
// name in one pass, and the collisions only the preserved case brings about.
#include <gtest/gtest.h>

#include "engine/preview_support.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

using testing::TempDir;

OperationRequest preserving_request(const std::string& target, std::string find, std::string replacement) {
  OperationRequest request = testing::preview_request(target, std::move(find), std::move(replacement));
  request.edit_contents = true;
  request.preserve_case = true;
  return request;
}

// The typed replacement "mathKit" tells every form apart: sympy -> mathkit,
// SYMPY -> MATHKIT, Sympy -> MathKit, and SymPy, SymPY, sYmPy as typed.
TEST(PreserveCaseTree, OnePreviewAndApplyRenameEveryCaseFormAsWritten) {
  TempDir dir;
  dir.file("sympy/SymPy.md", "SymPy wraps sympy.\nSYMPY_HOME=/opt\nSympy, SymPY and sYmPy.\n");
  dir.file("sympy/SYMPY_CONFIG.h", "#define SYMPY_CONFIG 1 // see sympy/Sympy\n");
  dir.file("sympy/Sympy-notes.txt", "nothing to change\n");
  dir.file("sympy/SymPY-odd.cfg", "x=1\n");
  dir.file("sympy/sympy_core/__init__.py", "from sympy import Sympy as SYMPY\n");
  dir.file("sympy/README", "No match here: sym py, s-y-m-p-y.\n");
  TempDir expected;
  expected.file("mathkit/mathKit.md", "mathKit wraps mathkit.\nMATHKIT_HOME=/opt\nMathKit, mathKit and mathKit.\n");
  expected.file("mathkit/MATHKIT_CONFIG.h", "#define MATHKIT_CONFIG 1 // see mathkit/MathKit\n");
  expected.file("mathkit/MathKit-notes.txt", "nothing to change\n");
  expected.file("mathkit/mathKit-odd.cfg", "x=1\n");
  expected.file("mathkit/mathkit_core/__init__.py", "from mathkit import MathKit as MATHKIT\n");
  expected.file("mathkit/README", "No match here: sym py, s-y-m-p-y.\n");

  const OperationRequest request = preserving_request(dir / "sympy", "sympy", "mathKit");
  const PreviewPlan plan = testing::preview_ok(request);
  ASSERT_EQ(plan.changes.size(), 7u);
  // The review's excerpt shows each match's own form.
  for (const ChangeEntry& change : plan.changes) {
    if (!change.original_path.ends_with("/SymPy.md")) continue;
    const auto excerpts = compose_change_excerpts(plan, change, request);
    ASSERT_TRUE(excerpts);
    std::string shown;
    for (const ExcerptLine& line : *excerpts) shown += line.text + "\n";
    EXPECT_NE(shown.find("MATHKIT_HOME=/opt"), std::string::npos) << shown;
    EXPECT_NE(shown.find("→ mathKit wraps mathkit."), std::string::npos) << shown;
  }

  const ApplyFinished finished = run_apply(plan, std::nullopt);
  ASSERT_TRUE(finished.outcome) << finished.outcome.error();
  EXPECT_EQ(finished.outcome->final_target_path, dir / "mathkit");
  EXPECT_EQ(finished.outcome->literal_replacements, 18u);
  const std::string difference =
      testing::describe_difference(testing::snapshot_tree(expected.path()), testing::snapshot_tree(dir.path()));
  EXPECT_TRUE(difference.empty()) << difference;
}

TEST(PreserveCaseTree, CollisionsOfThePreservedCaseAreRefusedBeforeAnyChange) {
  TempDir dir;
  // Two names that differ only in case both become MathKit.txt.
  dir.file("both/SymPy.txt");
  dir.file("both/Sympy.txt");
  // A link the walk skips already holds the capitalised name: typed as
  // "mathKit" the file could be renamed, capitalised it cannot.
  dir.file("link/Sympy.txt");
  dir.symlink("link/MathKit.txt", "elsewhere");
  const testing::TreeSnapshot before = testing::snapshot_tree(dir.path());

  EXPECT_EQ(testing::preview_error(preserving_request(dir / "both", "sympy", "MathKit")),
            "Two entries would share the same name: " + dir / "both/SymPy.txt" + " and " + dir / "both/Sympy.txt" + ".");
  OperationRequest as_typed = preserving_request(dir / "link", "sympy", "mathKit");
  as_typed.preserve_case = false;
  EXPECT_EQ(testing::preview_ok(as_typed).changes.size(), 1u);
  EXPECT_EQ(testing::preview_error(preserving_request(dir / "link", "sympy", "mathKit")),
            "Rename destination already exists: nothing has been changed\nPath: " + dir / "link/MathKit.txt");
  EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(dir.path())), "");
}

}  // namespace
}  // namespace tarnwick
