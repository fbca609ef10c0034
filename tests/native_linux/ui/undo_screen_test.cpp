// The screen's side of undo: the record of the last completed apply, "Undo
// last apply" in the completion report and Control+Z, the undo preview and its
// apply, a refusal, and how long the record lasts.
#include <gtest/gtest.h>

#include <functional>

#include "native_linux/ui/ui_state_support.h"

namespace tarnwick::testing {
namespace {

constexpr std::int64_t kNow = 1'000'000;
constexpr Size kWindow{1100, 810};

// The preview of one rename applied, its record kept: the target is now /t2.
UiState applied_state(FakeWorkers& workers, ApplyFinished finished) {
  UiState ui = previewed_state(workers, plan_with(1, 0));
  ui.back_up_before_apply = false;
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, kNow);
  dispatch_action(ui, UiAction::ConfirmApply, 0, kNow);
  workers.finish(std::move(finished));
  poll_worker(ui);
  return ui;
}

ApplyFinished completed(std::string target) {
  return ApplyFinished{.outcome = ApplyOutcome{target, std::nullopt, 1, 0, 1}, .undo = UndoRecord{target, {}}};
}

TEST(UndoScreen, TheCompletionReportOrControlZPreviewsTheUndoWhichAppliesLikeAnyPreview) {
  FakeWorkers workers;
  UiState ui = applied_state(workers, completed("/t2"));
  ASSERT_TRUE(ui.undo_record);
  const RecordedFrame frame = record_frame(ui, kWindow);
  EXPECT_TRUE(contains(frame.dump, "Undo last apply"));
  EXPECT_TRUE(has_region_for(frame, UiAction::UndoLastApply));

  focus_field(ui, kFieldFind);  // a focused field keeps Control+Z
  handle_key(ui, control('z'), kNow);
  EXPECT_FALSE(ui.worker.busy());
  clear_focus(ui);
  handle_key(ui, control('z'), kNow);
  ASSERT_TRUE(ui.worker.busy());
  EXPECT_EQ(ui.worker.kind, WorkerKind::Preview);
  EXPECT_FALSE(ui.undo_record) << "an undo that starts spends the record";
  EXPECT_FALSE(ui.results);

  PreviewPlan undo = plan_with(1, 0);
  undo.kind = PlanKind::Undo;
  workers.finish(PreviewFinished{build_request(ui), std::move(undo)});
  poll_worker(ui);
  EXPECT_TRUE(compose_review_text(ui).starts_with(
      "UNDO PREVIEW\n1 renames / 0 content edits / 8 items scanned\nPage 1 of 1\n\nFILE  NAME   1 literal matches\n"))
      << compose_review_text(ui);
  EXPECT_FALSE(contains(record_frame(ui, kWindow).dump, "Undo last apply"));

  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, kNow);
  EXPECT_TRUE(ui.confirmation.open);
  dispatch_action(ui, UiAction::ConfirmApply, 0, kNow);
  EXPECT_EQ(ui.worker.kind, WorkerKind::Apply);
  workers.finish(completed("/t"));
  poll_worker(ui);
  EXPECT_EQ(ui.fields[kFieldTarget], "/t") << "the target field follows the target back";
  EXPECT_TRUE(ui.undo_record) << "the undo of the undo";
}

TEST(UndoScreen, ARefusalIsTheStatusAndChangesCompletedWithLeftoversCanBeUndone) {
  FakeWorkers workers;
  UiState ui = applied_state(workers, completed("/t2"));
  dispatch_action(ui, UiAction::UndoLastApply, 0, kNow);
  const std::string refusal = "Cannot undo: /t2/Tarnwick0.txt changed after the apply.";
  workers.finish(PreviewFinished{build_request(ui), fail(refusal)});
  poll_worker(ui);
  EXPECT_TRUE(compose_review_text(ui).starts_with("OPERATION STOPPED\n" + refusal + "\n\n"));
  EXPECT_FALSE(ui.preview);

  const std::string leftovers = "Changes completed, but the transaction journal could not be removed. Remove it "
                                "manually:\nCannot remove temporary transaction file: I/O error (os error 5)";
  UiState kept = applied_state(workers, ApplyFinished{.outcome = fail(leftovers),
                                                      .failure_lists_files_to_preserve = true,
                                                      .undo = UndoRecord{"/t2", {}}});
  EXPECT_TRUE(kept.undo_record);
  EXPECT_TRUE(has_region_for(record_frame(kept, kWindow), UiAction::UndoLastApply));
  UiState rolled_back = applied_state(workers, ApplyFinished{fail("Cannot rename entry: busy\nApplied changes were rolled back.")});
  EXPECT_FALSE(rolled_back.undo_record);
  EXPECT_FALSE(has_region_for(record_frame(rolled_back, kWindow), UiAction::UndoLastApply));
}

TEST(UndoScreen, TheRecordLastsUntilAPreviewApplyOrUndoStartsOrTheTargetChanges) {
  struct Step {
    const char* name;
    std::function<void(UiState&)> act;
    bool keeps;
  };
  const Step steps[] = {
      {"the find text edited", [](UiState& ui) { set_field_text(ui, kFieldFind, "other"); }, true},
      {"an option changed", [](UiState& ui) { dispatch_action(ui, UiAction::ToggleMatchCase, 0, kNow); }, true},
      {"a backup made", [](UiState& ui) { start_backup(ui); }, true},
      {"the target edited", [](UiState& ui) { set_field_text(ui, kFieldTarget, "/t2x"); }, false},
      {"a preview started", [](UiState& ui) { start_preview(ui); }, false},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    FakeWorkers workers;
    UiState ui = applied_state(workers, completed("/t2"));
    ui.fields[kFieldBackupDestination] = "/b";
    step.act(ui);
    EXPECT_EQ(ui.undo_record.has_value(), step.keeps);
  }
}

}  // namespace
}  // namespace tarnwick::testing
