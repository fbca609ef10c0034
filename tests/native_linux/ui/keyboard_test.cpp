// Key routing and field editing without X: the precedence of the routes,
// Tab cycles, the whole-text selection and character-wise editing.
#include "native_linux/ui/keyboard.h"

#include <gtest/gtest.h>

#include "common/utf8.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::plan_with;
using testing::previewed_state;
using testing::control;
using testing::key;
using testing::letter;
using testing::typed;

constexpr std::int64_t kNow = 50'000;

void press(UiState& ui, const DecodedKey& k) { handle_key(ui, k, kNow); }

TEST(KeyboardFields, TabCyclesFollowTheVisibleFields) {
  UiState ui;
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.focused_field, kFieldTarget);
  press(ui, key(Key::Tab, kModifierShift));
  EXPECT_EQ(ui.focused_field, kFieldReplacement) << "depth and extensions are hidden";

  ui.unlimited_depth = false;
  ui.extension_filter = ExtensionFilter::Mode::OnlyListed;
  EXPECT_EQ(main_field_cycle(ui), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
  focus_field(ui, kFieldTarget);
  press(ui, key(Key::Tab, kModifierShift));
  EXPECT_EQ(ui.focused_field, kFieldExtensions);
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.focused_field, kFieldTarget);
  EXPECT_EQ(ui.cursor, 0U);

  ui.include_folder_contents = false;  // the depth field leaves the cycle
  focus_field(ui, kFieldReplacement);
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.focused_field, kFieldExtensions);

  press(ui, key(Key::Escape));
  EXPECT_FALSE(ui.focused_field);
}

TEST(KeyboardFields, CursorMovesAndDeletesWholeCharacters) {
  UiState ui;
  ui.fields[kFieldFind] = "aé€𝄞";
  focus_field(ui, kFieldFind);
  press(ui, key(Key::Left));
  EXPECT_EQ(ui.cursor, 6U);  // before the four-byte character
  press(ui, key(Key::BackSpace));
  EXPECT_EQ(ui.fields[kFieldFind], "aé𝄞");
  EXPECT_EQ(ui.cursor, 3U);
  press(ui, key(Key::Home));
  press(ui, key(Key::Right));
  press(ui, key(Key::Delete));
  EXPECT_EQ(ui.fields[kFieldFind], "a𝄞");
  press(ui, key(Key::End));
  press(ui, key(Key::Delete));  // nothing after the end
  EXPECT_EQ(ui.fields[kFieldFind], "a𝄞");
  press(ui, typed("ñ"));
  EXPECT_EQ(ui.fields[kFieldFind], "a𝄞ñ");
  press(ui, letter('x', kModifierAlt, "x"));
  press(ui, key(Key::Other));
  EXPECT_EQ(ui.fields[kFieldFind], "a𝄞ñ") << "Alt chords and keys without text insert nothing";
}

TEST(KeyboardFields, WholeTextSelectionAndTheClipboardKeys) {
  UiState ui;
  focus_field(ui, kFieldFind);
  press(ui, control('c'));
  EXPECT_FALSE(ui.clipboard_claim_pending) << "Control+C needs Control+A first";

  press(ui, control('a'));
  EXPECT_TRUE(ui.whole_text_selected);
  // The next chord starts with presses of the modifier keys themselves.
  press(ui, key(Key::Modifier, kModifierControl));
  press(ui, key(Key::Modifier, kModifierControl));
  EXPECT_TRUE(ui.whole_text_selected);
  press(ui, letter('C', kModifierControl | kModifierShift));
  EXPECT_EQ(ui.clipboard_text, "Tarn");
  EXPECT_TRUE(ui.clipboard_claim_pending);
  EXPECT_FALSE(ui.whole_text_selected);

  press(ui, control('a'));
  press(ui, control('x'));
  EXPECT_EQ(ui.fields[kFieldFind], "");
  EXPECT_EQ(ui.clipboard_text, "Tarn");

  ui.fields[kFieldFind] = "Tarn";
  press(ui, control('a'));
  press(ui, control('v'));
  ASSERT_TRUE(ui.pending_paste);
  EXPECT_TRUE(ui.pending_paste->replace_whole_text);
  EXPECT_TRUE(ui.paste_request_pending);
  EXPECT_FALSE(ui.whole_text_selected);
  accept_pasted_text(ui, "Invoice");
  EXPECT_EQ(ui.fields[kFieldFind], "Invoice");

  press(ui, control('a'));
  press(ui, key(Key::Left));
  EXPECT_EQ(ui.cursor, 0U);
  EXPECT_FALSE(ui.whole_text_selected);
  press(ui, control('a'));
  press(ui, typed("Z"));
  EXPECT_EQ(ui.fields[kFieldFind], "Z");
  press(ui, control('a'));
  press(ui, key(Key::BackSpace));
  EXPECT_EQ(ui.fields[kFieldFind], "");
}

TEST(KeyboardMain, ReturnPreviewsAndPagingKeysScroll) {
  FakeWorkers workers;
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  focus_field(ui, kFieldFind);
  press(ui, key(Key::Return));
  EXPECT_EQ(workers.starts, 1);
  EXPECT_FALSE(ui.focused_field);

  press(ui, key(Key::Tab));
  press(ui, typed("x"));
  EXPECT_EQ(ui.fields[kFieldTarget], "/t") << "keys are ignored while a worker runs";
  EXPECT_FALSE(ui.focused_field);

  workers.finish(PreviewFinished{build_request(ui), plan_with(1, 0)});
  poll_worker(ui);
  press(ui, key(Key::PageDown));
  press(ui, key(Key::PageDown));
  EXPECT_EQ(ui.review_scroll, 20);
  press(ui, key(Key::PageUp));
  press(ui, key(Key::PageUp));
  press(ui, key(Key::PageUp));
  EXPECT_EQ(ui.review_scroll, 0);
  press(ui, control('c'));
  EXPECT_EQ(ui.clipboard_text, compose_review_text(ui));
  press(ui, typed("q"));
  EXPECT_FALSE(ui.focused_field) << "letters without a focused field are ignored";
}

TEST(KeyboardConfirmation, FocusOrderActivationAndTyping) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, kNow);
  ASSERT_TRUE(ui.confirmation.open);
  press(ui, typed("z"));
  EXPECT_FALSE(ui.focused_field);

  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.confirmation.focus, ConfirmFocus::Checkbox);
  press(ui, key(Key::Space));
  EXPECT_FALSE(ui.back_up_before_apply);
  press(ui, key(Key::Space));
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.focused_field, kFieldBackupDestination);
  press(ui, typed("/"));
  press(ui, typed("b"));
  press(ui, key(Key::Return));  // ignored in the destination field
  EXPECT_TRUE(ui.confirmation.open);
  EXPECT_EQ(ui.fields[kFieldBackupDestination], "/b");
  EXPECT_TRUE(ui.preview) << "the destination does not invalidate";

  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.confirmation.focus, ConfirmFocus::Browse);
  EXPECT_FALSE(ui.focused_field);
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.confirmation.focus, ConfirmFocus::Apply);
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.confirmation.focus, ConfirmFocus::Cancel);
  press(ui, key(Key::Tab, kModifierShift));
  EXPECT_EQ(ui.confirmation.focus, ConfirmFocus::Apply);

  press(ui, key(Key::PageDown));
  press(ui, key(Key::PageDown));
  EXPECT_EQ(ui.confirmation.scroll, 16);
  press(ui, control('c'));
  EXPECT_EQ(ui.clipboard_text, *compose_confirmation_text(ui));

  press(ui, key(Key::Return, kModifierControl));
  EXPECT_FALSE(ui.confirmation.open);
  EXPECT_TRUE(ui.worker.apply_running);
}

TEST(KeyboardConfirmation, ControlKeysPageAndOpenTheConfirmationWithoutAMouse) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(250, 0));
  focus_field(ui, kFieldFind);
  press(ui, key(Key::PageDown, kModifierControl));
  press(ui, key(Key::PageDown, kModifierControl));
  press(ui, key(Key::PageDown, kModifierControl));
  EXPECT_EQ(shown_review_page(ui), 2U) << "three pages of 100, clamped at the last";
  press(ui, key(Key::PageUp, kModifierControl));
  EXPECT_EQ(shown_review_page(ui), 1U);
  EXPECT_EQ(ui.focused_field, kFieldFind) << "paging keeps the field focus";

  press(ui, key(Key::Return, kModifierControl));
  ASSERT_TRUE(ui.confirmation.open);
  EXPECT_FALSE(ui.worker.apply_running) << "opening the confirmation applies nothing";
  press(ui, key(Key::Return, kModifierControl));
  EXPECT_FALSE(ui.confirmation.open) << "inside the dialog the key activates the focused Cancel";
  EXPECT_FALSE(ui.worker.apply_running);
}

TEST(KeyboardConfirmation, ControlReturnOpensNothingWithoutAnApplicablePreview) {
  UiState ui;
  press(ui, key(Key::Return, kModifierControl));
  EXPECT_FALSE(ui.confirmation.open);
  FakeWorkers workers;
  UiState empty = previewed_state(workers, plan_with(0, 0));
  press(empty, key(Key::Return, kModifierControl));
  EXPECT_FALSE(empty.confirmation.open);
}

TEST(KeyboardConfirmation, EscapeCancelsAndShortcutsStayBlocked) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  ui.edit_file_contents = true;
  ui.request_snapshot = build_request(ui);
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, kNow);
  ASSERT_TRUE(ui.confirmation.open);
  press(ui, control('e'));
  press(ui, control('b'));
  dispatch_action(ui, UiAction::FocusField, kFieldBackupDestination, kNow);
  EXPECT_EQ(ui.confirmation.focus, ConfirmFocus::Destination);
  press(ui, control('e'));
  press(ui, control('b'));
  EXPECT_FALSE(ui.content_panel.open);
  EXPECT_FALSE(ui.backups_panel.open);
  press(ui, key(Key::Escape));
  EXPECT_FALSE(ui.confirmation.open);
  EXPECT_TRUE(ui.preview);
  press(ui, letter('E', kModifierControl | kModifierShift));
  EXPECT_TRUE(ui.content_panel.open);
}

TEST(KeyboardBackupsPanel, FocusOrderAndActivation) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(1, 0));
  ui.backups_panel.open = true;
  ui.backups_panel.focus = BackupsFocus::Done;
  press(ui, key(Key::Tab, kModifierShift));
  EXPECT_EQ(ui.backups_panel.focus, BackupsFocus::CopyDetails);
  press(ui, key(Key::Return));
  EXPECT_EQ(ui.clipboard_text,
            "Before Apply: copy and verify the entire selected file or folder.\n"
            "Choose an existing backup destination folder.");
  press(ui, key(Key::Tab, kModifierShift));
  EXPECT_EQ(ui.backups_panel.focus, BackupsFocus::BackUpNow);
  press(ui, key(Key::Space));
  EXPECT_EQ(ui.status->message, "Choose a target and an existing backup destination folder first.");
  press(ui, key(Key::Tab, kModifierShift));
  press(ui, key(Key::Tab, kModifierShift));
  EXPECT_EQ(ui.focused_field, kFieldBackupDestination);
  press(ui, typed("/b"));
  press(ui, key(Key::Return));  // ignored in the destination field
  EXPECT_TRUE(ui.backups_panel.open);
  press(ui, key(Key::Tab));
  press(ui, key(Key::Tab));
  press(ui, key(Key::Return));
  EXPECT_TRUE(ui.worker.backup_running);
  EXPECT_EQ(ui.fields[kFieldBackupDestination], "/b");
}

TEST(KeyboardContentPanel, ListNavigationAndFocusCycle) {
  UiState ui;
  ui.edit_file_contents = true;
  ui.content_panel.open = true;
  ui.encoding_index = 30;
  dispatch_action(ui, UiAction::ToggleEncodingList, 0, kNow);
  EXPECT_EQ(ui.content_panel.encoding_first_row, 27U);
  press(ui, key(Key::End));
  EXPECT_EQ(ui.content_panel.encoding_highlight, 55U);
  EXPECT_EQ(ui.content_panel.encoding_first_row, 48U);
  press(ui, key(Key::PageUp));
  press(ui, key(Key::PageUp));
  EXPECT_EQ(ui.content_panel.encoding_highlight, 39U);
  EXPECT_EQ(ui.content_panel.encoding_first_row, 39U);
  press(ui, key(Key::Return));
  EXPECT_EQ(ui.encoding_index, 39U);
  EXPECT_FALSE(ui.content_panel.encoding_list_open);

  ui.content_mode = ContentMode::TextOnly;
  ui.content_panel.focus = ContentFocus::Encoding;
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.content_panel.focus, ContentFocus::Done) << "Text only skips the length-changes checkbox";
  press(ui, key(Key::Tab));
  press(ui, key(Key::Left));
  EXPECT_EQ(ui.content_mode, ContentMode::BinaryOnly);
  press(ui, key(Key::Escape));
  EXPECT_FALSE(ui.content_panel.open);
}

}  // namespace
}  // namespace tarnwick
