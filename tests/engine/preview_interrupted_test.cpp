// What an interrupted apply leaves behind is never planned for: its journal
// refuses the preview wherever it lies in or above the tree, and stray
// transaction files are skipped with a notice.
#include <gtest/gtest.h>

#include "engine/preview_support.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

using testing::TempDir;

constexpr const char* kJournal = ".tarnwick-12345-7-journal";

TEST(PreviewOfInterruptedApply, AJournalInOrAboveTheTreeRefusesThePreviewAndNamesTheJournal) {
  struct Case {
    const char* journal_folder;  // relative to the temporary folder
    const char* target;
    bool folder_contents = true;
  };
  const Case cases[] = {
      {"t", "t"},                   // the target itself (its name was kept)
      {"", "t"},                    // the target's parent (the target was renamed)
      {"", "t/deep/f_old.txt"},     // an ancestor several levels up
      {"t/deep", "t"},              // inside the walked tree
      {"t", "t", false},            // the target's own folder is looked at even when it is not walked
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.journal_folder) + " / " + test.target);
    TempDir dir;
    dir.file("t/deep/f_old.txt", "old");
    const std::string journal = dir.file(std::string(test.journal_folder) + (*test.journal_folder ? "/" : "") + kJournal,
                                         "tarnwick-journal 1\n");
    OperationRequest request = testing::preview_request(dir / test.target, "old", "new");
    request.include_folder_contents = test.folder_contents;
    const PreviewFinished finished = run_preview(request);
    ASSERT_FALSE(finished.plan);
    EXPECT_EQ(finished.plan.error(),
              "An earlier apply was interrupted here. Recover it before previewing.\nPath: " + journal);
    EXPECT_EQ(finished.interrupted_apply_journal, journal);
  }
  // A journal beside the target's folder but below a sibling does not concern it.
  TempDir dir;
  dir.file("t/f_old.txt", "old");
  dir.file(std::string("other/") + kJournal, "");
  const PreviewFinished finished = run_preview(testing::preview_request(dir / "t", "old", "new"));
  ASSERT_TRUE(finished.plan) << finished.plan.error();
  EXPECT_FALSE(finished.interrupted_apply_journal);
  // Other failures carry no journal.
  const PreviewFinished missing = run_preview(testing::preview_request(dir / "missing", "old"));
  EXPECT_FALSE(missing.plan);
  EXPECT_FALSE(missing.interrupted_apply_journal);
}

TEST(PreviewOfInterruptedApply, StrayTransactionFilesAreSkippedWithANoticeAndNeverPlanned) {
  TempDir dir;
  const std::string stage = dir.file("t/.tarnwick-99-1-stage", "new tarn text");
  const std::string recovery = dir.file("t/sub/.tarnwick-99-2-recovery", "old tarn text");
  dir.file("t/sub/tarn.txt", "tarn");
  dir.file("t/.tarnwick-notours", "tarn");  // not of the transaction files' form
  OperationRequest request = testing::preview_request(dir / "t", "TARN", "moor");
  request.edit_contents = true;  // match case stays off: "TARN" matches the hidden names
  const PreviewPlan plan = testing::preview_ok(request);
  std::vector<std::string> changed;
  for (const ChangeEntry& change : plan.changes) changed.push_back(change.original_path.substr(dir.path().size() + 1));
  EXPECT_EQ(changed, (std::vector<std::string>{"t/.tarnwick-notours", "t/sub/tarn.txt"}));
  EXPECT_EQ(plan.notices, (std::vector<Notice>{"Skipped transaction file of an interrupted apply: " + stage,
                                               "Skipped transaction file of an interrupted apply: " + recovery}));
  for (const ScanRecord& record : plan.scan_records) {
    EXPECT_NE(record.original_path, stage);
    EXPECT_NE(record.original_path, recovery);
  }
}

}  // namespace
}  // namespace tarnwick
