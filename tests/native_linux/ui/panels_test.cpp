// The content settings and Backups panels: opening rules, what their choices
// do to the preview and the request, "Back up now" and its status area, the
// wheel and clicks that reach only the topmost layer, and their frames through
// the recording canvas.
#include <gtest/gtest.h>

#include <filesystem>

#include "native_linux/ui/screen_layout.h"
#include "support/temp_tree.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::control;
using testing::contains;
using testing::FakeWorkers;
using testing::record_frame;
using testing::RecordedFrame;
using testing::key;
using testing::plan_with;
using testing::previewed_state;

constexpr std::int64_t kNow = 120'000;
constexpr std::size_t kWindows1251 = 8;


void act(UiState& ui, UiAction action, std::uint32_t payload = 0, std::int64_t now_ms = kNow) {
  dispatch_action(ui, action, payload, now_ms);
}

void press(UiState& ui, const DecodedKey& k) { handle_key(ui, k, kNow); }

// A reviewed preview with edit file contents on, as the content panel needs.
UiState previewed_with_contents(FakeWorkers& workers) {
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  ui.edit_file_contents = true;
  start_preview(ui);
  workers.finish(PreviewFinished{build_request(ui), plan_with(150, 0)});
  poll_worker(ui);
  return ui;
}

TEST(ContentPanel, OpensOnlyWithEditFileContentsAndEveryChoiceReachesTheRequest) {
  FakeWorkers workers;
  UiState ui;
  press(ui, control('e'));
  act(ui, UiAction::OpenContentSettings);
  EXPECT_FALSE(ui.content_panel.open) << "edit file contents is off";

  ui = previewed_with_contents(workers);
  ASSERT_TRUE(ui.preview);
  focus_field(ui, kFieldFind);
  press(ui, key(Key::Escape));
  press(ui, control('e'));
  EXPECT_TRUE(ui.content_panel.open);
  EXPECT_EQ(ui.content_panel.focus, ContentFocus::Modes);
  EXPECT_FALSE(ui.focused_field);
  EXPECT_TRUE(ui.preview) << "opening changes nothing";

  press(ui, key(Key::Tab));
  press(ui, key(Key::Return));  // opens the list at the current encoding
  ASSERT_TRUE(ui.content_panel.encoding_list_open);
  for (std::size_t i = 0; i < kWindows1251; ++i) press(ui, key(Key::Down));
  press(ui, key(Key::Space));
  EXPECT_EQ(ui.encoding_index, kWindows1251);
  EXPECT_FALSE(ui.preview) << "choosing an encoding removes the preview";
  EXPECT_EQ(build_request(ui).encoding, encoding_choice_for_row(kWindows1251));

  press(ui, key(Key::Tab, kModifierShift));
  press(ui, key(Key::Right));
  EXPECT_EQ(build_request(ui).content_mode, ContentMode::BinaryOnly);
  press(ui, key(Key::Tab));
  press(ui, key(Key::Tab));
  EXPECT_EQ(ui.content_panel.focus, ContentFocus::LengthChanges);
  press(ui, key(Key::Space));
  EXPECT_TRUE(build_request(ui).resizable_binary);

  // Text only disables the box: neither a click nor the keys reach it.
  act(ui, UiAction::ChooseContentMode, 0);
  EXPECT_EQ(ui.content_panel.focus, ContentFocus::Modes);
  act(ui, UiAction::ToggleBinaryLengthChanges);
  EXPECT_TRUE(ui.allow_binary_length_changes) << "unchanged";
  press(ui, key(Key::Escape));
  EXPECT_FALSE(ui.content_panel.open);
}

TEST(ContentPanel, TheOpenListTakesTheWheelAndAClickBesideItOnlyClosesIt) {
  FakeWorkers workers;
  UiState ui = previewed_with_contents(workers);
  const Size window{1600, 1000};
  record_frame(ui, window);
  act(ui, UiAction::OpenContentSettings);
  scroll_at(ui, window, 1400, 600, 3);  // over the review text, beside the panel
  scroll_at(ui, window, 700, 300, 3);   // over the panel
  EXPECT_EQ(ui.review_scroll, 0);

  ui.encoding_index = 30;
  act(ui, UiAction::ToggleEncodingList);
  EXPECT_EQ(ui.content_panel.encoding_first_row, 27U);
  scroll_at(ui, window, 700, 500, 3);  // over the list
  EXPECT_EQ(ui.content_panel.encoding_first_row, 30U);
  for (int i = 0; i < 10; ++i) scroll_at(ui, window, 700, 500, 3);
  EXPECT_EQ(ui.content_panel.encoding_first_row, 48U) << "the last page shows the last row";
  scroll_at(ui, window, 1400, 600, -3);
  EXPECT_EQ(ui.review_scroll, 0);
  EXPECT_EQ(ui.content_panel.encoding_first_row, 48U);

  const RecordedFrame frame = record_frame(ui, window);
  EXPECT_EQ(frame.regions.size(), 8U) << "only the list's rows respond";
  press_at(ui, std::nullopt, 0, kNow + 1000);
  EXPECT_FALSE(ui.content_panel.encoding_list_open);
  EXPECT_TRUE(ui.content_panel.open);
  EXPECT_EQ(ui.encoding_index, 30U);
}

TEST(ContentPanel, FramesAt850x680AndWithTheListOpenAtEncoding30) {
  UiState ui;
  ui.edit_file_contents = true;
  act(ui, UiAction::OpenContentSettings);
  ui.content_mode = ContentMode::TextOnly;
  RecordedFrame frame = record_frame(ui, Size{850, 680});
  EXPECT_EQ(frame.regions, (std::vector<std::string>{
                               "59 191 238 35 a=13 p=0",
                               "303 191 238 35 a=13 p=1",
                               "547 191 238 35 a=13 p=2",
                               "59 271 732 36 a=14 p=0",  // the encoding selector
                               "676 540 115 33 a=17 p=0",  // Done; the disabled box has no region
                           }));
  const std::string& dump = frame.dump;
  EXPECT_TRUE(contains(dump, "overlay\nfill 35 90 780 500 #121318\noutline 35 90 780 500 #EC4D66"));
  EXPECT_TRUE(contains(dump, "text 59 124 Sans16 #F3F0EF \"FILE CONTENT SETTINGS\""));
  EXPECT_TRUE(contains(dump, "fill 59 223 238 3 #EC4D66\noutline 59 191 238 35 #F3F0EF")) << "Text only, focused";
  EXPECT_TRUE(contains(dump, "clip 68 274 697 30\ntext 69 295 Mono13 #F3F0EF \"Auto detect (Unicode / Windows-1252)\""));
  EXPECT_TRUE(contains(dump, "text 768 295 Mono13 #F3F0EF \"\u25BE\""));
  EXPECT_TRUE(contains(dump, "text 88 398 Mono13 #9B9DAD \"Allow length changes in raw binary files\""));
  EXPECT_TRUE(contains(dump, "text 59 429 Mono13 #9B9DAD \"Equal-length binary replacement is the default.\""));
  EXPECT_TRUE(contains(dump, "line 59 525 791 525 #30323D"));

  ui.content_mode = ContentMode::TextAndBinary;
  ui.content_panel.focus = ContentFocus::LengthChanges;
  frame = record_frame(ui, Size{850, 680});
  EXPECT_EQ(frame.regions[4], "59 384 349 23 a=16 p=0");
  EXPECT_TRUE(contains(frame.dump, "outline 56 381 24 24 #F3F0EF"));
  EXPECT_TRUE(contains(frame.dump, "text 59 429 Mono13 #E6B66C \"Equal-length binary replacement is the default.\""));

  ui.encoding_index = 30;
  act(ui, UiAction::ToggleEncodingList);
  frame = record_frame(ui, Size{1600, 1000});
  std::vector<std::string> rows;
  for (std::uint32_t i = 0; i < 8; ++i) rows.push_back("426 " + std::to_string(472 + 26 * i) + " 748 26 a=15 p=" + std::to_string(27 + i));
  EXPECT_EQ(frame.regions, rows) << "rows 27 to 34 shown";
  EXPECT_TRUE(contains(frame.dump, "outline 424 431 752 36 #EC4D66")) << "the selector has the focus";
  EXPECT_TRUE(contains(frame.dump, "overlay\nfill 424 471 752 210 #1A1B22\noutline 424 471 752 210 #EC4D66"));
  EXPECT_TRUE(contains(frame.dump, "fill 426 550 748 26 #43232D\ntext 436 568 Mono13 #F3F0EF \"" +
                                       std::string(encoding_table()[30].label) + "\""))
      << "row 30 highlighted";
  EXPECT_TRUE(contains(frame.dump, "fill 1170 474 3 204 #30323D")) << "the scroll bar";
}

TEST(BackupsPanel, OpensUnderNoDialogAndBacksUpOnceWhateverPressesIt) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(3, 0));
  focus_field(ui, kFieldFind);
  press(ui, key(Key::Escape));
  press(ui, control('b'));
  ASSERT_TRUE(ui.backups_panel.open);
  EXPECT_EQ(ui.backups_panel.focus, BackupsFocus::Done);
  act(ui, UiAction::OpenContentSettings);
  EXPECT_FALSE(ui.content_panel.open);

  // With an empty destination "Back up now" is disabled, and its key reports why.
  EXPECT_FALSE(back_up_now_enabled(ui));
  ui.backups_panel.focus = BackupsFocus::BackUpNow;
  press(ui, key(Key::Return));
  EXPECT_EQ(ui.status->message, "Choose a target and an existing backup destination folder first.");
  EXPECT_EQ(compose_backups_status(ui).text,
            "Backup / operation notice: Choose a target and an existing backup destination folder first.");
  EXPECT_TRUE(compose_backups_status(ui).stopped);

  ui.fields[kFieldBackupDestination] = "/b";
  handle_key(ui, key(Key::Space), kNow + 1000);
  EXPECT_TRUE(ui.worker.backup_running);
  EXPECT_EQ(workers.starts, 2);
  EXPECT_EQ(compose_backups_status(ui).text,
            "Creating and verifying backup\u2026 Keep this window open.\nBacking up: recording the target\u2026");
  // While it runs, nothing starts another: not the keys, not the button.
  ui.worker.control->stop_accepting_cancel();  // so the keys do not reach its Cancel
  refresh_progress(ui, kNow);
  press(ui, key(Key::Return));
  press(ui, key(Key::Space));
  act(ui, UiAction::BackUpNow, 0, kNow + 1100);
  EXPECT_EQ(workers.starts, 2);
  // A backup that ended within the double click does not take its second press.
  workers.finish(BackupFinished{BackupResult{"/b/Tarnwick-backup-1", 4, 120}});
  poll_worker(ui);
  ASSERT_FALSE(press_guard_active(ui, kNow + 1200));
  press_at(ui, HitRegion{Rect{}, static_cast<ActionCode>(UiAction::BackUpNow), 0}, 0, kNow + 1200);
  EXPECT_EQ(workers.starts, 2);
  EXPECT_FALSE(ui.worker.busy());

  const BackupsStatus done = compose_backups_status(ui);
  EXPECT_EQ(done.text, "Backup complete: 4 files / 120 bytes");
  EXPECT_FALSE(done.stopped);
  EXPECT_TRUE(contains(record_frame(ui, Size{850, 680}).dump, "text 69 462 Mono11 #64D4A5 \"Backup complete: 4 files / 120 bytes\""))
      << "the first line in green";
  EXPECT_TRUE(ui.preview);
  ui.status.reset();
  EXPECT_EQ(compose_backups_status(ui).text,
            "Before Apply: copy and verify the entire selected file or folder.\nDestination: /b\n"
            "Last completed backup: /b/Tarnwick-backup-1");
  act(ui, UiAction::BackUpNow, 0, kNow + 1600);
  EXPECT_EQ(workers.starts, 3) << "a deliberate second backup later";
}

TEST(BackupsPanel, BrowseFillsTheDestinationAndNothingUnderThePanelScrolls) {
  testing::TempDir tree;
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(200, 0));
  const Size window{1600, 1000};
  record_frame(ui, window);
  act(ui, UiAction::OpenBackupsPanel);
  scroll_at(ui, window, 1400, 600, 3);
  scroll_at(ui, window, 700, 500, 3);
  EXPECT_EQ(ui.review_scroll, 0);

  ui.fields[kFieldBackupDestination] = tree.path();
  act(ui, UiAction::BrowseBackupFolder);
  ASSERT_TRUE(ui.browser.open);
  EXPECT_EQ(ui.browser.mode, BrowserMode::BackupFolder);
  EXPECT_EQ(ui.focused_field, kFieldBrowserPath);
  act(ui, UiAction::UseBrowserChoice);
  EXPECT_FALSE(ui.browser.open);
  EXPECT_TRUE(ui.backups_panel.open);
  EXPECT_EQ(ui.fields[kFieldBackupDestination], std::filesystem::canonical(tree.path()).string());
}

TEST(BackupsPanel, FramesAt850x680And1600x1000) {
  UiState ui;
  act(ui, UiAction::OpenBackupsPanel);
  RecordedFrame frame = record_frame(ui, Size{850, 680});
  EXPECT_EQ(frame.regions, (std::vector<std::string>{
                               "69 206 189 23 a=3 p=0",   // Back up before Apply
                               "69 268 586 36 a=0 p=6",   // destination
                               "667 268 114 36 a=4 p=0",  // Browse…
                               "69 503 138 34 a=6 p=0",   // Copy details; Back up now is disabled
                               "677 503 104 34 a=7 p=0",  // Done
                           }));
  const std::string& dump = frame.dump;
  EXPECT_TRUE(contains(dump, "overlay\nfill 45 120 760 440 #121318\noutline 45 120 760 440 #EC4D66\n"
                             "fill 45 120 760 3 #D72B42"));
  EXPECT_TRUE(contains(dump, "text 69 156 Sans16 #F3F0EF \"BACKUPS\""));
  EXPECT_TRUE(contains(dump, "text 69 333 Mono11 #9B9DAD \"Copies original names and the entire target, including "
                             "hidden files and empty folders.\""));
  EXPECT_TRUE(contains(dump, "clip 69 446 712 40\ntext 69 462 Mono11 #64D4A5 \"Before Apply: copy and verify the "
                             "entire selected file or folder.\"\ntext 69 480 Mono11 #64D4A5 \"Choose an existing "
                             "backup destination folder.\""));
  EXPECT_TRUE(contains(dump, "text 69 549 Mono11 #9B9DAD \"Ctrl+B \u00B7 paths stay in memory\""));
  EXPECT_TRUE(contains(dump, "text 538 525 Mono13 #626471 \"Back up now\""));
  EXPECT_TRUE(contains(dump, "outline 677 503 104 34 #F3F0EF")) << "the focus starts on Done";

  ui.fields[kFieldTarget] = "/t";
  ui.fields[kFieldBackupDestination] = "/b";
  set_status(ui, StatusSeverity::Stopped, "Backup destination is inside the target.\nPath: /t/b");
  frame = record_frame(ui, Size{1600, 1000});
  EXPECT_EQ(frame.regions, (std::vector<std::string>{
                               "444 366 189 23 a=3 p=0",
                               "444 428 586 36 a=0 p=6",
                               "1042 428 114 36 a=4 p=0",
                               "444 663 138 34 a=6 p=0",
                               "874 663 166 34 a=5 p=0",
                               "1052 663 104 34 a=7 p=0",
                           }));
  EXPECT_TRUE(contains(frame.dump, "clip 444 606 712 40\ntext 444 622 Mono11 #E6B66C \"Backup / operation notice: "
                                   "Backup destination is inside the target.\""));
  for (const BackupsFocus focus : {BackupsFocus::Checkbox, BackupsFocus::Browse, BackupsFocus::BackUpNow,
                                   BackupsFocus::CopyDetails}) {
    ui.backups_panel.focus = focus;
    const std::string outlined = record_frame(ui, Size{1600, 1000}).dump;
    const std::vector<std::string> expected{"outline 440 362 260 27 #F3F0EF", "", "outline 1042 428 114 36 #F3F0EF",
                                            "outline 874 663 166 34 #F3F0EF", "", "outline 444 663 138 34 #F3F0EF"};
    EXPECT_TRUE(contains(outlined, expected[static_cast<std::size_t>(focus)])) << static_cast<int>(focus);
  }

  FakeWorkers workers;
  ui.spawn = workers.spawner();
  act(ui, UiAction::BackUpNow);
  frame = record_frame(ui, Size{1600, 1000});
  EXPECT_EQ(frame.regions, std::vector<std::string>{"874 663 166 34 a=37 p=0"})
      << "nothing but its Cancel responds while the backup runs";
  EXPECT_TRUE(contains(frame.dump, "text 444 622 Mono11 #64D4A5 \"Creating and verifying backup\u2026 Keep this "
                                   "window open.\"\ntext 444 640 Mono11 #64D4A5 \"Backing up: recording the target\u2026\""));
}

}  // namespace
}  // namespace tarnwick
