// The apply confirmation: its text, when it may open, Confirm and Cancel.
#include <gtest/gtest.h>

#include "native_linux/ui/keyboard.h"
#include "native_linux/ui/ui_state.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::plan_with;
using testing::previewed_state;
using testing::contains;
using testing::record_frame;

constexpr std::string_view kTail =
    "\nWhen enabled, backup must finish before file changes. A backup error stops Apply.\n"
    "Close editors and sync clients writing to this folder.\n\nPreview notices: ";

TEST(ConfirmText, WithoutBinaryEntriesAndWithBackupOn) {
  FakeWorkers workers;
  PreviewPlan plan = plan_with(3, 2);
  plan.changes[1].content_changes = true;
  UiState ui = previewed_state(workers, plan);
  EXPECT_EQ(*compose_confirmation_text(ui),
            "Apply the reviewed changes?\n\n3 names will change.\n1 files will have content replaced.\n\n"
            "Before Apply: copy and verify the entire selected file or folder.\n"
            "Choose an existing backup destination folder." +
                std::string(kTail) + "2\n\nReview the backup choice and every change before applying.");
}

// Binary entries: raw binary (index 0) and game resources (index 1), either or both.
PreviewPlan binary_plan(bool raw, bool resource) {
  PreviewPlan plan = plan_with(3, 0);
  for (std::size_t i = 0; i < 2; ++i) {
    if ((i == 0 && !raw) || (i == 1 && !resource)) continue;
    plan.changes[i].content_changes = true;
    plan.changes[i].binary_or_resource = true;
    plan.changes[i].game_resource = i == 1;
  }
  return plan;
}

constexpr std::string_view kFixedWidth = " Raw binary literals keep their encoded width.";
constexpr std::string_view kResources =
    " Supported game-resource names use their format handler and may change resource allocation sizes. Review "
    "every resource notice; game compatibility needs independent validation.";

TEST(ConfirmText, TheBinaryParagraphSpeaksOnlyOfTheKindsOfEditThePlanHolds) {
  struct Case {
    bool raw;
    bool resource;
    std::string paragraph;
  };
  const std::vector<Case> cases{
      {true, false, "\n\n1 binary files will change." + std::string(kFixedWidth)},
      {false, true, "\n\n1 game-resource files will change." + std::string(kResources)},
      {true, true, "\n\n2 binary/resource files will change." + std::string(kFixedWidth) + std::string(kResources)},
  };
  for (const Case& c : cases) {
    FakeWorkers workers;
    UiState ui = previewed_state(workers, binary_plan(c.raw, c.resource));
    const std::string text = *compose_confirmation_text(ui);
    EXPECT_NE(text.find(" files will have content replaced." + c.paragraph + "\n\nBefore Apply"), std::string::npos)
        << text;
  }

  // Allowing length changes is an option change: it needs a fresh preview.
  FakeWorkers workers;
  UiState ui = previewed_state(workers, binary_plan(true, false));
  ui.edit_file_contents = true;
  ui.allow_binary_length_changes = true;
  EXPECT_FALSE(compose_confirmation_text(ui));
  ui.request_snapshot = build_request(ui);
  EXPECT_NE(compose_confirmation_text(ui)->find("1 binary files will change. Raw binary resizing is enabled; raw "
                                                "offsets, checksums and signatures are not repaired.\n\n"),
            std::string::npos);
}

TEST(ConfirmText, WithBackupOffNoDestinationIsNamedOrAskedFor) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 1));
  ui.back_up_before_apply = false;
  const std::string off = "\n\nAutomatic backup is off for this operation.\nWhen enabled,";
  EXPECT_NE(compose_confirmation_text(ui)->find(off), std::string::npos) << *compose_confirmation_text(ui);
  ui.fields[kFieldBackupDestination] = "/backups";
  EXPECT_NE(compose_confirmation_text(ui)->find(off), std::string::npos) << *compose_confirmation_text(ui);
  ui.last_completed_backup = "/backups/Tarnwick-backup-1";
  EXPECT_NE(compose_confirmation_text(ui)->find("\n\nAutomatic backup is off for this operation.\n"
                                                "Last completed backup: /backups/Tarnwick-backup-1\nWhen enabled,"),
            std::string::npos);

  // Back on, the destination is named; the Backups panel names it either way.
  ui.back_up_before_apply = true;
  EXPECT_NE(compose_confirmation_text(ui)->find("copy and verify the entire selected file or folder.\n"
                                                "Destination: /backups\nLast completed backup:"),
            std::string::npos);
  ui.back_up_before_apply = false;
  EXPECT_EQ(compose_backup_choice_text(ui),
            "Automatic backup is off for this operation.\nDestination: /backups\n"
            "Last completed backup: /backups/Tarnwick-backup-1");
}

TEST(ConfirmText, ControlCCopiesTheTextThenTheNoticesThenTheStatus) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(150, 120));  // notices of every page
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  set_status(ui, StatusSeverity::Information, "Backup complete: 1 files / 2 bytes");
  handle_key(ui, testing::control('c'), 1000);
  ASSERT_TRUE(ui.clipboard_claim_pending);
  std::string expected = *compose_confirmation_text(ui) + "\n\nPREVIEW NOTICES (120)";
  for (int i = 0; i < 120; ++i) expected += "\n- Notice " + std::to_string(i) + ".";
  EXPECT_EQ(ui.clipboard_text, expected + "\n\nBackup complete: 1 files / 2 bytes");

  // A preview that is no longer current has no notices to copy.
  ui.request_snapshot->find = "Other";
  handle_key(ui, testing::control('c'), 1000);
  EXPECT_EQ(ui.clipboard_text, "This preview is no longer available.\n\nBackup complete: 1 files / 2 bytes");
}

TEST(CloseGuard, ALongOperationKeepsTheWindowWithANoticeNotAStop) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  EXPECT_TRUE(allow_close(ui)) << "nothing runs";
  ui.back_up_before_apply = false;
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
  ASSERT_TRUE(ui.worker.apply_running);
  ui.worker.control->stop_accepting_cancel();  // past its first change: no cancel
  EXPECT_FALSE(allow_close(ui));
  EXPECT_FALSE(close_ready(ui));
  const std::string review = compose_review_text(ui);
  EXPECT_TRUE(review.starts_with("NOTICE\nAn operation is still running. Wait for it to finish before closing.\n\n"
                                 "Preparing backup and applying reviewed changes..."))
      << review;
  EXPECT_FALSE(contains(record_frame(ui, Size{1100, 810}).dump, "Operation stopped"));
}

TEST(ConfirmFlow, OpensOnlyForACurrentPreviewAndCancelKeepsIt) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  focus_field(ui, kFieldFind);
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 5000);
  EXPECT_TRUE(ui.confirmation.open);
  EXPECT_EQ(ui.confirmation.focus, ConfirmFocus::Cancel);
  EXPECT_FALSE(ui.focused_field);
  EXPECT_TRUE(press_guard_active(ui, 5100));
  EXPECT_FALSE(press_guard_active(ui, 5600));
  dispatch_action(ui, UiAction::CancelConfirmation, 0, 6000);
  EXPECT_FALSE(ui.confirmation.open);
  EXPECT_TRUE(ui.preview);

  set_field_text(ui, kFieldReplacement, "X");
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 7000);
  EXPECT_FALSE(ui.confirmation.open) << "the edit dropped the preview";
}

TEST(ConfirmFlow, ConfirmWithBackupOnNeedsADestination) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
  EXPECT_TRUE(ui.confirmation.open) << "nothing happens with a blank destination";
  EXPECT_EQ(workers.starts, 1);

  ui.fields[kFieldBackupDestination] = "/backups";
  workers.refuse = true;
  dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
  EXPECT_FALSE(ui.confirmation.open);
  EXPECT_EQ(ui.status->message, "Could not start the apply worker. Create a fresh preview.");
  EXPECT_FALSE(ui.preview) << "consumed by the attempt";
}

TEST(ConfirmFlow, StartApplyRefusals) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  start_apply(ui);
  EXPECT_EQ(ui.status->message, "Choose a backup destination, or explicitly turn off backup before Apply.");
  EXPECT_TRUE(ui.preview) << "kept for a retry";

  ui.request_snapshot->find = "Other";
  start_apply(ui);
  EXPECT_EQ(ui.status->message, "Options changed. Create a fresh preview before applying.");
  EXPECT_FALSE(ui.preview);
  EXPECT_EQ(workers.starts, 1);
}

TEST(ConfirmFlow, TheSnapshotComparesTargetsAsPaths) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  ui.fields[kFieldTarget] = "/t/";  // written directly: an edit would invalidate
  EXPECT_TRUE(compose_confirmation_text(ui));
}

}  // namespace
}  // namespace tarnwick
