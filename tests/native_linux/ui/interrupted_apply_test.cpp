// The screen's side of an interrupted apply and of an apply that stopped before
// touching the target: Recover offered in the review and by Control+R, its
// result, and a preview that comes back after a harmless failure.
#include <gtest/gtest.h>

#include "native_linux/ui/ui_state_support.h"

namespace tarnwick::testing {
namespace {

constexpr std::int64_t kNow = 1'000'000;
constexpr std::string_view kJournal = "/t/.tarnwick-41-1-journal";
constexpr std::string_view kRefusal =
    "An earlier apply was interrupted here. Recover it before previewing.\nPath: /t/.tarnwick-41-1-journal";

// A preview refused because of an interrupted apply's journal.
UiState refused_state(FakeWorkers& workers) {
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  start_preview(ui);
  workers.finish(PreviewFinished{build_request(ui), fail(std::string(kRefusal)), std::string(kJournal)});
  poll_worker(ui);
  return ui;
}

TEST(InterruptedApply, TheReviewOffersRecoverInPlaceOfApplyUntilTheTargetChanges) {
  FakeWorkers workers;
  UiState ui = refused_state(workers);
  ASSERT_TRUE(ui.status);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Stopped);
  EXPECT_EQ(ui.status->message, kRefusal);

  RecordedFrame frame = record_frame(ui, Size{1100, 810});
  EXPECT_TRUE(contains(frame.dump, "Recover"));
  EXPECT_FALSE(contains(frame.dump, "Apply reviewed changes"));
  EXPECT_TRUE(has_region_for(frame, UiAction::RecoverInterruptedApply));

  // Another target is another question: its own preview decides.
  set_field_text(ui, kFieldTarget, "/elsewhere");
  EXPECT_FALSE(ui.interrupted_apply_journal);
  frame = record_frame(ui, Size{1100, 810});
  EXPECT_FALSE(has_region_for(frame, UiAction::RecoverInterruptedApply));
  EXPECT_TRUE(contains(frame.dump, "Apply reviewed changes"));

  // Control+R without a journal starts nothing.
  const int starts = workers.starts;
  handle_key(ui, control('r'), kNow);
  EXPECT_EQ(workers.starts, starts);
}

TEST(InterruptedApply, ControlRRecoversWhileTheWindowRefusesToCloseThenFollowsTheTarget) {
  FakeWorkers workers;
  UiState ui = refused_state(workers);
  focus_field(ui, kFieldFind);  // a focused field does not take the shortcut
  handle_key(ui, control('r'), kNow);
  ASSERT_TRUE(ui.worker.busy());
  EXPECT_EQ(ui.worker.kind, WorkerKind::Recover);
  EXPECT_TRUE(ui.worker.apply_running);
  handle_key(ui, control('r'), kNow);
  EXPECT_EQ(workers.starts, 2);  // the preview and one Recover

  workers.finish(RecoverFinished{std::string(kJournal), RecoverOutcome{RecoverOutcome::Kind::RolledBack, "/t-old"}});
  poll_worker(ui);
  EXPECT_FALSE(ui.worker.busy());
  EXPECT_FALSE(ui.interrupted_apply_journal);
  EXPECT_EQ(ui.fields[kFieldTarget], "/t-old");
  ASSERT_TRUE(ui.status);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Information);
  EXPECT_EQ(ui.status->message, recover_outcome_text(RecoverOutcome{RecoverOutcome::Kind::RolledBack, "/t-old"}));
  EXPECT_TRUE(contains(record_frame(ui, Size{1100, 810}).dump, "Apply reviewed changes"));
}

TEST(InterruptedApply, ARecoverThatCannotFinishKeepsItsListOfFilesToPreserve) {
  FakeWorkers workers;
  UiState ui = refused_state(workers);
  dispatch_action(ui, UiAction::RecoverInterruptedApply, 0, kNow);
  const std::string report =
      "Recover of the interrupted apply did not finish cleanly.\nRecovery is incomplete. Preserve these files:\n"
      "/t/.tarnwick-41-2-recovery";
  workers.finish(RecoverFinished{std::string(kJournal), fail(report), true});
  poll_worker(ui);
  ASSERT_TRUE(ui.status);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Stopped);
  EXPECT_EQ(ui.recovery_report, report);
  EXPECT_EQ(ui.fields[kFieldTarget], "/t");
}

TEST(ApplyStoppedBeforeAnyChange, ThePreviewComesBackAndCanBeAppliedAgain) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(3, 0));
  ui.fields[kFieldBackupDestination] = "/missing";
  start_apply(ui);
  ASSERT_TRUE(ui.worker.busy());
  const std::string failure = "Cannot inspect backup destination: No such file or directory\nPath: /missing";
  workers.finish(ApplyFinished{fail(failure), false, plan_with(3, 0)});
  poll_worker(ui);
  ASSERT_TRUE(ui.preview);
  EXPECT_EQ(ui.preview->changes.size(), 3u);
  EXPECT_EQ(ui.status->message, failure);
  EXPECT_TRUE(contains(compose_review_text(ui), "OPERATION STOPPED\n" + failure));
  EXPECT_TRUE(compose_confirmation_text(ui).has_value());

  // A failure that gives no plan back still ends the preview.
  ui.fields[kFieldBackupDestination] = "/b";
  start_apply(ui);
  workers.finish(ApplyFinished{fail("Selection changed since preview. Create a fresh preview.")});
  poll_worker(ui);
  EXPECT_FALSE(ui.preview);
  EXPECT_FALSE(compose_confirmation_text(ui).has_value());
  EXPECT_FALSE(ui.applying_request);
}

}  // namespace
}  // namespace tarnwick::testing
