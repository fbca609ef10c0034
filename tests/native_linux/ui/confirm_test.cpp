// The apply confirmation: its text, when it may open, Confirm and Cancel.
#include <gtest/gtest.h>

#include "native_linux/ui/ui_state.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::plan_with;
using testing::previewed_state;

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

TEST(ConfirmText, WithBinaryEntriesBothResizeChoicesAndTheLastBackup) {
  FakeWorkers workers;
  PreviewPlan plan = plan_with(2, 0);
  for (ChangeEntry& entry : plan.changes) {
    entry.content_changes = true;
    entry.binary_or_resource = true;
  }
  UiState ui = previewed_state(workers, plan);
  ui.back_up_before_apply = false;
  ui.fields[kFieldBackupDestination] = "/backups";
  ui.last_completed_backup = "/backups/Tarnwick-backup-1";
  const std::string fixed =
      "\n\n2 binary/resource files will change. Raw binary literals keep their encoded width. Supported "
      "game-resource names use their format handler and may change resource allocation sizes. Review every resource "
      "notice; game compatibility needs independent validation.\n\nAutomatic backup is off for this operation.\n"
      "Destination: /backups\nLast completed backup: /backups/Tarnwick-backup-1";
  EXPECT_NE(compose_confirmation_text(ui)->find(fixed), std::string::npos) << *compose_confirmation_text(ui);

  // Allowing length changes is an option change: it needs a fresh preview.
  ui.edit_file_contents = true;
  ui.allow_binary_length_changes = true;
  EXPECT_FALSE(compose_confirmation_text(ui));
  ui.request_snapshot = build_request(ui);
  EXPECT_NE(compose_confirmation_text(ui)->find("2 binary/resource files will change. Raw binary resizing is "
                                                "enabled; raw offsets, checksums and signatures are not repaired. "
                                                "Supported"),
            std::string::npos);
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
