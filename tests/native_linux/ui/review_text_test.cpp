// The review pane's text in each of its forms, and the results of an apply.
#include <gtest/gtest.h>

#include "native_linux/ui/ui_state.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::plan_with;
using testing::previewed_state;

std::size_t count_of(const std::string& text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

TEST(ReviewText, ThirdPageOf250EntriesKeepsTheNoticeHeaderWithoutNoticeLines) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(250, 30));
  ui.page = 2;
  const std::string text = compose_review_text(ui);
  EXPECT_TRUE(text.starts_with("250 renames / 0 content edits / 257 items scanned\nPage 3 of 3\n\n")) << text;
  EXPECT_EQ(count_of(text, "FILE  NAME   1 literal matches\n"), 50U);
  EXPECT_NE(text.find("/t/Tarn200.txt\n> /t/Tarnwick200.txt\n\n"), std::string::npos);
  EXPECT_NE(text.find("/t/Tarn249.txt\n"), std::string::npos);
  EXPECT_EQ(text.find("/t/Tarn199.txt\n"), std::string::npos);
  EXPECT_TRUE(text.ends_with("\n\nPREVIEW NOTICES (30)\n"));

  ui.page = 0;
  const std::string first = compose_review_text(ui);
  EXPECT_EQ(count_of(first, "- Notice "), 30U);
  EXPECT_NE(first.find("PREVIEW NOTICES (30)\n- Notice 0.\n"), std::string::npos);
  EXPECT_EQ(count_of(first, " literal matches\n"), 100U);

  ui.page = 9;  // a stale page shows the last one
  EXPECT_EQ(compose_review_text(ui), text);
}

TEST(ReviewText, EntryLinesNameKindNameAndContentChanges) {
  FakeWorkers workers;
  PreviewPlan plan;
  ChangeEntry folder;
  folder.is_folder = true;
  folder.name_changes = true;
  folder.literal_count = 2;
  folder.original_path = "/t/Tarn";
  folder.final_path = "/t/Tarnwick";
  ChangeEntry summarised;
  summarised.content_changes = true;
  summarised.content_summary = "TEXT UTF-8";
  summarised.literal_count = 3;
  summarised.original_path = summarised.final_path = "/t/a.txt";
  ChangeEntry both = summarised;
  both.name_changes = true;
  both.content_summary.reset();
  plan.changes = {folder, summarised, both};
  plan.items_scanned = 4;
  UiState ui = previewed_state(workers, plan);
  set_status(ui, StatusSeverity::Information, "First line\nsecond");
  EXPECT_EQ(compose_review_text(ui),
            "NOTICE\nFirst line\nsecond\n\n"
            "2 renames / 2 content edits / 4 items scanned\nPage 1 of 1\n\n"
            "FOLDER  NAME   2 literal matches\n/t/Tarn\n> /t/Tarnwick\n\n"
            "FILE  TEXT UTF-8  3 literal matches\n/t/a.txt\n> /t/a.txt\n\n"
            "FILE  NAME CONTENT  3 literal matches\n/t/a.txt\n> /t/a.txt\n\n");
}

TEST(ReviewText, RunningTextsForApplyAndBackup) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(1, 0));
  ui.back_up_before_apply = false;
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
  ASSERT_TRUE(ui.worker.apply_running);
  EXPECT_EQ(compose_review_text(ui),
            "Preparing backup and applying reviewed changes...\nIf backup is enabled, it must finish before any file "
            "changes.\nKeep the app open until this operation finishes.");
  ui.worker.kind = WorkerKind::Backup;
  EXPECT_EQ(compose_review_text(ui),
            "Creating and verifying your backup...\nThe entire selected target is copied. Your selected files stay "
            "unchanged.\nKeep the app open until the backup finishes.");
}

TEST(ReviewText, ASuccessfulApplyIsShownAsOneAndUpdatesTheTarget) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  ui.fields[kFieldBackupDestination] = "/b";
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
  ASSERT_TRUE(ui.worker.apply_running);
  // The close guard's text while the apply ran must not outlive the success.
  ui.worker.control->stop_accepting_cancel();
  EXPECT_FALSE(allow_close(ui));
  workers.finish(ApplyFinished{ApplyOutcome{"/t2", BackupResult{"/b/Tarnwick-backup-9", 3, 42}, 2, 1, 5}});
  poll_worker(ui);
  EXPECT_EQ(compose_review_text(ui),
            "CHANGES COMPLETE\n\n2 names changed\n1 files edited\n5 literal replacements\n\nCurrent target\n/t2\n\n"
            "Originals backed up and verified\n/b/Tarnwick-backup-9\n3 files / 42 bytes\n"
            "The backup keeps original names and data.");
  EXPECT_EQ(ui.fields[kFieldTarget], "/t2");
  EXPECT_EQ(ui.last_completed_backup, "/b/Tarnwick-backup-9");
  EXPECT_FALSE(compose_confirmation_text(ui)) << "the preview was consumed";
  dispatch_action(ui, UiAction::ConfirmApply, 0, 2000);
  EXPECT_EQ(workers.starts, 2) << "a second Apply without a new preview starts nothing";

  // An edit drops the results as any invalidation does.
  set_field_text(ui, kFieldFind, "T");
  EXPECT_EQ(compose_review_text(ui), welcome_text());
}

TEST(ReviewText, BackupOffResultLine) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(1, 0));
  ui.back_up_before_apply = false;
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
  workers.finish(ApplyFinished{ApplyOutcome{"/t", std::nullopt, 1, 0, 1}});
  poll_worker(ui);
  EXPECT_TRUE(compose_review_text(ui).ends_with("\n\nAutomatic backup was turned off for this operation."));
}

// Only these texts tell the user which files to keep; an edit must not lose them.
TEST(ReviewText, ARecoveryReportSurvivesEditsUntilTheNextOperation) {
  const std::string report =
      "Cannot rename: Permission denied (os error 13)\nPath: /t/a\n"
      "Recovery is incomplete. Preserve these files and restore from your backup:\n/t/.tarnwick-1-2-recovery";
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(1, 0));
  ui.back_up_before_apply = false;
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
  workers.finish(ApplyFinished{fail(report), true});
  poll_worker(ui);
  EXPECT_EQ(compose_review_text(ui), "OPERATION STOPPED\n" + report + "\n\n");

  set_field_text(ui, kFieldFind, "x");
  dispatch_action(ui, UiAction::ToggleMatchCase, 0, 0);
  EXPECT_EQ(compose_review_text(ui), "OPERATION STOPPED\n" + report + "\n\n");
  dispatch_action(ui, UiAction::CopyReview, 0, 0);
  EXPECT_NE(ui.clipboard_text.find("/t/.tarnwick-1-2-recovery"), std::string::npos);

  start_preview(ui);
  EXPECT_EQ(compose_review_text(ui).find("Recovery is incomplete"), std::string::npos);

  // An ordinary apply failure goes with the next edit.
  UiState plain = previewed_state(workers, plan_with(1, 0));
  plain.back_up_before_apply = false;
  dispatch_action(plain, UiAction::ApplyReviewedChanges, 0, 0);
  dispatch_action(plain, UiAction::ConfirmApply, 0, 1000);
  workers.finish(ApplyFinished{fail("Cannot rename: busy\nPath: /t/a\nApplied changes were rolled back.")});
  poll_worker(plain);
  set_field_text(plain, kFieldFind, "x");
  EXPECT_EQ(compose_review_text(plain), welcome_text());
}

}  // namespace
}  // namespace tarnwick
