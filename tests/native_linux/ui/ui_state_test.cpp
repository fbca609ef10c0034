// The screen logic without X: start values, actions, invalidation, requests,
// field insertion, the worker slot and the handling of worker results.
#include "native_linux/ui/ui_state.h"

#include <gtest/gtest.h>

#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::plan_with;
using testing::previewed_state;

constexpr std::int64_t kNow = 10'000;

TEST(UiStateStart, HoldsTheDocumentedStartValues) {
  const UiState ui;
  EXPECT_EQ(ui.fields[kFieldFind], "Tarn");
  EXPECT_EQ(ui.fields[kFieldReplacement], "Tarnwick");
  EXPECT_EQ(ui.fields[kFieldDepth], "1");
  EXPECT_EQ(ui.depth, 1U);
  EXPECT_TRUE(ui.match_case && ui.include_folder_contents && ui.unlimited_depth && ui.back_up_before_apply);
  EXPECT_FALSE(ui.edit_file_contents || ui.allow_binary_length_changes);
  EXPECT_EQ(ui.content_mode, ContentMode::TextAndBinary);
  EXPECT_EQ(ui.extension_filter, ExtensionFilter::Mode::All);
  EXPECT_FALSE(ui.focused_field);
  EXPECT_FALSE(any_overlay_open(ui));
  EXPECT_EQ(compose_review_text(ui), welcome_text());
}

TEST(UiStateRequest, BuildsFromTheScreenWithTheExtensionExample) {
  UiState ui;
  ui.fields[kFieldTarget] = "/data/Tarn";
  ui.fields[kFieldExtensions] = " .TXT;md,,<none>";
  ui.extension_filter = ExtensionFilter::Mode::ExcludeListed;
  ui.unlimited_depth = false;
  set_field_text(ui, kFieldDepth, "+12");
  ui.edit_file_contents = true;
  ui.content_mode = ContentMode::BinaryOnly;
  ui.match_case = false;
  ui.allow_binary_length_changes = true;
  const OperationRequest request = build_request(ui);
  EXPECT_EQ(request.target, "/data/Tarn");
  EXPECT_EQ(request.find, "Tarn");
  EXPECT_EQ(request.replacement, "Tarnwick");
  EXPECT_EQ(request.max_depth, std::optional<std::uint64_t>(12));
  EXPECT_EQ(request.extension_filter.mode, ExtensionFilter::Mode::ExcludeListed);
  EXPECT_EQ(request.extension_filter.extensions, (std::vector<std::string>{"txt", "md", "<none>"}));
  EXPECT_EQ(request.content_mode, ContentMode::BinaryOnly);
  EXPECT_FALSE(request.match_case);
  EXPECT_TRUE(request.edit_contents && request.resizable_binary && request.include_folder_contents);

  ui.content_mode = ContentMode::TextAndBinary;
  ui.extension_filter = ExtensionFilter::Mode::All;
  ui.unlimited_depth = true;
  const OperationRequest plain = build_request(ui);
  EXPECT_EQ(plain.content_mode, ContentMode::TextAndBinary);
  EXPECT_FALSE(plain.max_depth);
  EXPECT_TRUE(plain.extension_filter.extensions.empty());
}

TEST(UiStateRequest, DepthTextParsesOnlyPlusAndDigitsThatFit) {
  EXPECT_EQ(parse_depth("0"), 0U);
  EXPECT_EQ(parse_depth("+7"), 7U);
  EXPECT_EQ(parse_depth("18446744073709551615"), UINT64_MAX);
  for (const char* bad : {"", "+", "-", "-1", "18446744073709551616", "1 ", "1e3", "++1"}) {
    EXPECT_FALSE(parse_depth(bad)) << bad;
  }
  UiState ui;
  set_field_text(ui, kFieldDepth, "5");
  set_field_text(ui, kFieldDepth, "x");  // keeps the last number that parsed
  EXPECT_EQ(ui.depth, 5U);
}

// Every field or option that shapes the request drops the preview; the backup
// choices do not.
TEST(UiStateInvalidation, OptionsAndFieldsZeroToFourInvalidateOthersDoNot) {
  struct Change {
    const char* name;
    std::function<void(UiState&)> apply;
    bool invalidates;
  };
  const std::vector<Change> changes{
      {"target", [](UiState& ui) { set_field_text(ui, kFieldTarget, "/u"); }, true},
      {"find", [](UiState& ui) { set_field_text(ui, kFieldFind, "x"); }, true},
      {"replacement", [](UiState& ui) { set_field_text(ui, kFieldReplacement, ""); }, true},
      {"depth", [](UiState& ui) { set_field_text(ui, kFieldDepth, "3"); }, true},
      {"extensions", [](UiState& ui) { set_field_text(ui, kFieldExtensions, "md"); }, true},
      {"match case", [](UiState& ui) { dispatch_action(ui, UiAction::ToggleMatchCase, 0, kNow); }, true},
      {"include", [](UiState& ui) { dispatch_action(ui, UiAction::ToggleIncludeFolderContents, 0, kNow); }, true},
      {"unlimited", [](UiState& ui) { dispatch_action(ui, UiAction::ToggleUnlimitedDepth, 0, kNow); }, true},
      {"edit contents", [](UiState& ui) { dispatch_action(ui, UiAction::ToggleEditFileContents, 0, kNow); }, true},
      {"filter", [](UiState& ui) { dispatch_action(ui, UiAction::ChooseExtensionFilter, 1, kNow); }, true},
      {"destination", [](UiState& ui) { set_field_text(ui, kFieldBackupDestination, "/b"); }, false},
      {"backup toggle", [](UiState& ui) { dispatch_action(ui, UiAction::ToggleBackupBeforeApply, 0, kNow); }, false},
  };
  for (const Change& change : changes) {
    FakeWorkers workers;
    UiState ui = previewed_state(workers, plan_with(3, 0));
    ASSERT_TRUE(ui.preview) << change.name;
    ui.page = 1;
    ui.review_scroll = 9;
    set_status(ui, StatusSeverity::Information, "kept?");
    change.apply(ui);
    EXPECT_EQ(!ui.preview.has_value(), change.invalidates) << change.name;
    EXPECT_EQ(!ui.request_snapshot.has_value(), change.invalidates) << change.name;
    EXPECT_EQ(!ui.status.has_value(), change.invalidates) << change.name;
    if (change.invalidates) {
      EXPECT_EQ(ui.page, 0U) << change.name;
    }
  }
}

// Every row the encoding list shows is one of the table's, and none is missing.
TEST(UiStateContentPanel, TheEncodingListHasOneRowPerEncoding) {
  EXPECT_EQ(kEncodingRowCount, encoding_table().size());
  EXPECT_EQ(encoding_choice_for_row(0).kind, EncodingKind::Auto);
}

TEST(UiStateInvalidation, ContentPanelChoicesInvalidateOnlyWhileEditingContents) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  dispatch_action(ui, UiAction::ChooseEncoding, 5, kNow);
  EXPECT_TRUE(ui.preview) << "edit file contents is off";
  EXPECT_EQ(ui.encoding_index, 0U);

  ui.edit_file_contents = true;
  ui.preview = plan_with(2, 0);
  dispatch_action(ui, UiAction::ChooseEncoding, 56, kNow);
  EXPECT_TRUE(ui.preview) << "index beyond the table";
  dispatch_action(ui, UiAction::ChooseEncoding, 30, kNow);
  EXPECT_EQ(ui.encoding_index, 30U);
  EXPECT_FALSE(ui.preview);

  ui.content_mode = ContentMode::TextOnly;
  dispatch_action(ui, UiAction::ToggleBinaryLengthChanges, 0, kNow);
  EXPECT_FALSE(ui.allow_binary_length_changes) << "Text only has no length changes";
  dispatch_action(ui, UiAction::ChooseContentMode, 2, kNow);
  dispatch_action(ui, UiAction::ToggleBinaryLengthChanges, 0, kNow);
  EXPECT_TRUE(ui.allow_binary_length_changes);
  EXPECT_EQ(ui.content_panel.focus, ContentFocus::LengthChanges);
}

TEST(UiStateFields, InsertionFollowsTheFieldRules) {
  UiState ui;
  insert_text(ui, "lost");  // no focused field
  EXPECT_EQ(ui.fields[kFieldTarget], "");

  focus_field(ui, kFieldTarget);
  insert_text(ui, "/a\nb\x7F" "c\xC2\x85");
  EXPECT_EQ(ui.fields[kFieldTarget], "/abc");
  EXPECT_EQ(ui.cursor, 4U);

  ui.fields[kFieldTarget] = "é";
  ui.cursor = 1;  // inside the character: moved back to its start
  insert_text(ui, "x");
  EXPECT_EQ(ui.fields[kFieldTarget], "xé");

  ui.whole_text_selected = true;
  insert_text(ui, "new");
  EXPECT_EQ(ui.fields[kFieldTarget], "new");
  EXPECT_FALSE(ui.whole_text_selected);

  ui.fields[kFieldTarget] = std::string(kMaxFieldBytes - 1, 'a');
  ui.cursor = 0;
  insert_text(ui, "bb");
  EXPECT_EQ(ui.fields[kFieldTarget].size(), kMaxFieldBytes - 1) << "too long: dropped whole";
  insert_text(ui, "b");
  EXPECT_EQ(ui.fields[kFieldTarget].size(), kMaxFieldBytes);
}

TEST(UiStateFields, BackupDestinationRefusesControlCharactersWhole) {
  UiState ui;
  focus_field(ui, kFieldBackupDestination);
  insert_text(ui, "/backups\n/other");
  EXPECT_EQ(ui.fields[kFieldBackupDestination], "");
  ASSERT_TRUE(ui.status);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Stopped);
  EXPECT_EQ(ui.status->message, "Backup destination must be one path without control characters.");
  insert_text(ui, "/backups");
  EXPECT_EQ(ui.fields[kFieldBackupDestination], "/backups");
}

TEST(UiStateFields, OnlyTheBrowserPathAcceptsTextWhileAWorkerRuns) {
  FakeWorkers workers;
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  start_preview(ui);
  ASSERT_TRUE(ui.worker.busy());
  ui.focused_field = kFieldFind;
  ui.cursor = 4;
  insert_text(ui, "x");
  EXPECT_EQ(ui.fields[kFieldFind], "Tarn");
  ui.focused_field = kFieldBrowserPath;
  ui.cursor = 0;
  insert_text(ui, "/home");
  EXPECT_EQ(ui.fields[kFieldBrowserPath], "/home");
}

// Control+A then Control+V must replace, even though the key that asked for
// the paste cleared the selection long before the text arrived.
TEST(UiStatePaste, ReplacesWhenTheWholeTextWasSelectedAndChecksTheFocus) {
  UiState ui;
  focus_field(ui, kFieldFind);
  ui.pending_paste = PendingPaste{kFieldFind, true};
  accept_pasted_text(ui, "Invoice");
  EXPECT_EQ(ui.fields[kFieldFind], "Invoice");

  ui.pending_paste = PendingPaste{kFieldFind, false};
  accept_pasted_text(ui, "\nDraft");
  EXPECT_EQ(ui.fields[kFieldFind], "InvoiceDraft");

  ui.pending_paste = PendingPaste{kFieldFind, true};
  focus_field(ui, kFieldReplacement);
  accept_pasted_text(ui, "moved away");
  EXPECT_EQ(ui.fields[kFieldFind], "InvoiceDraft");
  EXPECT_EQ(ui.fields[kFieldReplacement], "Tarnwick");

  accept_pasted_text(ui, "unasked");
  EXPECT_EQ(ui.fields[kFieldReplacement], "Tarnwick");
}

TEST(UiStateActions, FocusRulesOfTheActionTable) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(3, 0));
  ui.fields[kFieldBackupDestination] = "/b";
  for (const UiAction action : {UiAction::BrowseTarget, UiAction::OpenBackupsPanel, UiAction::ToggleBackupBeforeApply,
                                UiAction::CopyDetails, UiAction::CloseBackupsPanel, UiAction::CopyReview,
                                UiAction::CancelConfirmation}) {
    focus_field(ui, kFieldFind);
    dispatch_action(ui, action, 0, kNow);
    EXPECT_FALSE(ui.focused_field) << static_cast<int>(action);
    ui.browser = BrowserState{};  // Browse… opened it; the next actions are the main screen's
  }
  for (const UiAction action : {UiAction::PreviousPage, UiAction::NextPage, UiAction::ToggleMatchCase}) {
    focus_field(ui, kFieldFind);
    dispatch_action(ui, action, 0, kNow);
    EXPECT_EQ(ui.focused_field, kFieldFind) << static_cast<int>(action);
  }
  dispatch_action(ui, UiAction::FocusField, 2, kNow);
  EXPECT_EQ(ui.focused_field, kFieldReplacement);
  EXPECT_EQ(ui.cursor, ui.fields[kFieldReplacement].size());
  dispatch_action(ui, UiAction::FocusField, 7, kNow);
  EXPECT_EQ(ui.focused_field, kFieldReplacement) << "no such field";
}

TEST(UiStateActions, EveryActionIsIgnoredWhileAWorkerRuns) {
  FakeWorkers workers;
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  start_preview(ui);
  const UiState before = ui;
  for (int code = 0; code <= 33; ++code) dispatch_action(ui, static_cast<UiAction>(code), 1, kNow);
  EXPECT_EQ(workers.starts, 1);
  EXPECT_EQ(ui.match_case, before.match_case);
  EXPECT_EQ(ui.extension_filter, before.extension_filter);
  EXPECT_EQ(ui.clipboard_text, "");
  EXPECT_FALSE(ui.confirmation.open);
}

TEST(UiStateActions, OverlayShortcutsNeverOpenUnderAnotherOverlay) {
  UiState ui;
  dispatch_action(ui, UiAction::OpenContentSettings, 0, kNow);
  EXPECT_FALSE(ui.content_panel.open) << "edit file contents is off";
  ui.edit_file_contents = true;
  for (bool* overlay : {&ui.confirmation.open, &ui.backups_panel.open, &ui.browser.open, &ui.content_panel.open}) {
    *overlay = true;
    dispatch_action(ui, UiAction::OpenContentSettings, 0, kNow);
    dispatch_action(ui, UiAction::OpenBackupsPanel, 0, kNow);
    EXPECT_EQ(ui.content_panel.open + ui.backups_panel.open + ui.browser.open + ui.confirmation.open, 1);
    *overlay = false;
  }
  dispatch_action(ui, UiAction::OpenContentSettings, 0, kNow);
  EXPECT_TRUE(ui.content_panel.open);
  EXPECT_TRUE(press_guard_active(ui, kNow + 499));
  EXPECT_FALSE(press_guard_active(ui, kNow + 500));
}

TEST(UiStateDrop, DropsAreTakenOnlyWithoutWorkerOrOverlay) {
  UiState ui;
  EXPECT_TRUE(drop_allowed(ui));
  for (bool* overlay : {&ui.browser.open, &ui.confirmation.open, &ui.backups_panel.open, &ui.content_panel.open}) {
    *overlay = true;
    EXPECT_FALSE(drop_allowed(ui));
    *overlay = false;
  }
  FakeWorkers workers;
  UiState previewed = previewed_state(workers, plan_with(1, 0));
  focus_field(previewed, kFieldFind);
  previewed.review_scroll = 5;
  accept_dropped_path(previewed, "/dropped");
  EXPECT_EQ(previewed.fields[kFieldTarget], "/dropped");
  EXPECT_FALSE(previewed.preview) << "a new target invalidates";
  EXPECT_FALSE(previewed.focused_field);
  EXPECT_EQ(previewed.review_scroll, 0);
  start_preview(previewed);
  EXPECT_FALSE(drop_allowed(previewed));
}

TEST(UiStateActions, PagingStaysWithinThePages) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(250, 30));
  EXPECT_EQ(review_page_count(ui), 3U);
  dispatch_action(ui, UiAction::PreviousPage, 0, kNow);
  EXPECT_EQ(ui.page, 0U);
  ui.review_scroll = 4;
  dispatch_action(ui, UiAction::NextPage, 0, kNow);
  dispatch_action(ui, UiAction::NextPage, 0, kNow);
  EXPECT_EQ(ui.review_scroll, 0);
  dispatch_action(ui, UiAction::NextPage, 0, kNow);
  EXPECT_EQ(ui.page, 2U);

  UiState exact = previewed_state(workers, plan_with(100, 0));
  EXPECT_EQ(review_page_count(exact), 1U);
  dispatch_action(exact, UiAction::NextPage, 0, kNow);
  EXPECT_EQ(exact.page, 0U);
}

TEST(UiStatePreview, RefusalsAndTheAcceptanceOfResults) {
  FakeWorkers workers;
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = " \t\u3000";
  dispatch_action(ui, UiAction::PreviewChanges, 0, kNow);
  EXPECT_EQ(ui.status->message, "Choose a target and enter the text to find.");
  EXPECT_EQ(workers.starts, 0);

  ui.fields[kFieldTarget] = "/t";
  ui.unlimited_depth = false;
  ui.fields[kFieldDepth] = "";
  dispatch_action(ui, UiAction::PreviewChanges, 0, kNow);
  EXPECT_EQ(ui.status->message, "Enter a valid non-negative maximum depth.");
  EXPECT_EQ(workers.starts, 0);
  ui.include_folder_contents = false;  // the depth is irrelevant then
  dispatch_action(ui, UiAction::PreviewChanges, 0, kNow);
  EXPECT_EQ(workers.starts, 1);
  EXPECT_FALSE(ui.status);
  EXPECT_EQ(compose_review_text(ui), "Building your preview...\nYour files stay unchanged during preview.");

  workers.finish(PreviewFinished{build_request(ui), plan_with(0, 2)});
  EXPECT_TRUE(poll_worker(ui));
  EXPECT_FALSE(ui.worker.busy());
  ASSERT_TRUE(ui.preview);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Information);
  EXPECT_EQ(ui.status->message, "No matching changes were found in this scope.");
  EXPECT_FALSE(compose_confirmation_text(ui)) << "nothing to apply";

  workers.refuse = true;
  dispatch_action(ui, UiAction::PreviewChanges, 0, kNow);
  EXPECT_EQ(ui.status->message, "Could not start the preview worker.");
  EXPECT_FALSE(ui.worker.busy());
}

TEST(UiStatePreview, AResultForOtherOptionsOrAFailureIsShownAsStopped) {
  FakeWorkers workers;
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  start_preview(ui);
  OperationRequest stale = build_request(ui);
  stale.find = "Other";
  workers.finish(PreviewFinished{stale, plan_with(3, 0)});
  poll_worker(ui);
  EXPECT_FALSE(ui.preview);
  EXPECT_EQ(ui.status->message, "Options changed. Create a fresh preview.");

  start_preview(ui);
  workers.finish(PreviewFinished{build_request(ui), fail("Target not found: x\nPath: /t")});
  poll_worker(ui);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Stopped);
  EXPECT_EQ(compose_review_text(ui), "OPERATION STOPPED\nTarget not found: x\nPath: /t\n\n");
}

TEST(UiStateWorker, AVanishedWorkerLeavesTheStoppedTextAndAnEmptySlot) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(3, 0));
  ui.fields[kFieldBackupDestination] = "/b";
  dispatch_action(ui, UiAction::BackUpNow, 0, kNow);
  ASSERT_TRUE(ui.worker.backup_running);
  EXPECT_FALSE(poll_worker(ui)) << "nothing yet";
  workers.vanish();
  EXPECT_TRUE(poll_worker(ui));
  EXPECT_FALSE(ui.worker.busy() || ui.worker.backup_running || ui.worker.apply_running);
  EXPECT_FALSE(ui.preview);
  EXPECT_EQ(ui.status->message, "The operation stopped unexpectedly. Review your files before trying again.");
}

TEST(UiStateBackup, BackUpNowRefusesBlanksAndKeepsThePreview) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(3, 0));
  dispatch_action(ui, UiAction::BackUpNow, 0, kNow);
  EXPECT_EQ(ui.status->message, "Choose a target and an existing backup destination folder first.");
  ui.fields[kFieldBackupDestination] = "/b";
  workers.refuse = true;
  dispatch_action(ui, UiAction::BackUpNow, 0, kNow);
  EXPECT_EQ(ui.status->message, "Could not start the backup worker.");
  workers.refuse = false;
  dispatch_action(ui, UiAction::BackUpNow, 0, kNow);
  EXPECT_TRUE(ui.worker.backup_running);
  EXPECT_FALSE(ui.status);

  workers.finish(BackupFinished{BackupResult{"/b/Tarnwick-backup-1", 4, 120}});
  poll_worker(ui);
  EXPECT_EQ(ui.status->message,
            "Backup complete: 4 files / 120 bytes\n/b/Tarnwick-backup-1\nYour selected files have not been changed.");
  EXPECT_EQ(ui.last_completed_backup, "/b/Tarnwick-backup-1");
  EXPECT_TRUE(compose_confirmation_text(ui)) << "the preview stays applicable";

  dispatch_action(ui, UiAction::BackUpNow, 0, kNow + 1000);
  workers.finish(BackupFinished{fail("Backup destination is inside the target.")});
  poll_worker(ui);
  EXPECT_EQ(ui.status->severity, StatusSeverity::Stopped);
  EXPECT_TRUE(ui.preview);
}

}  // namespace
}  // namespace tarnwick
