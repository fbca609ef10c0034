// Frames of the folder browser through the recording canvas, in both modes at
// the smallest window and a large one: the controls' rectangles, the rows and
// their regions, the selected row, the footer, the Use button's enabling, the
// focus outlines, and the wheel reaching only the browser.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "native_linux/ui/screen_layout.h"
#include "support/temp_tree.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::contains;
using testing::FakeWorkers;
using testing::record_frame;
using testing::RecordedFrame;
using testing::plan_with;
using testing::previewed_state;
using testing::TempDir;

constexpr std::int64_t kNow = 90'000;


// A folder with one sub-folder, one file and one link, open in the browser.
struct OpenBrowser {
  TempDir tree;
  UiState ui;

  explicit OpenBrowser(UiAction opening) {
    tree.folder("sub");
    tree.file("file.txt");
    tree.symlink("link", "file.txt");
    ui.fields[kFieldTarget] = tree.path();
    ui.fields[kFieldBackupDestination] = tree.path();
    dispatch_action(ui, opening, 0, kNow);
  }
};

TEST(BrowserFrame, TargetModeAt850x680) {
  OpenBrowser open(UiAction::BrowseTarget);
  UiState& ui = open.ui;
  dispatch_action(ui, UiAction::BrowserRowClicked, 2, kNow);  // the link
  RecordedFrame frame = record_frame(ui, Size{850, 680});
  EXPECT_EQ(frame.regions, (std::vector<std::string>{
                               "55 83 740 35 a=0 p=5",     // path field
                               "55 129 65 28 a=28 p=0",    // Up
                               "129 129 70 28 a=29 p=0",   // Home
                               "222 134 117 23 a=31 p=0",  // Show hidden
                               "648 129 147 28 a=30 p=0",  // Open folder
                               "57 175 736 25 a=32 p=0",   // the rows
                               "57 201 736 25 a=32 p=1",
                               "57 227 736 25 a=32 p=2",
                               "515 596 115 32 a=26 p=0",  // Cancel; Use is disabled for a link
                           }));
  const std::string& dump = frame.dump;
  EXPECT_TRUE(contains(dump, "overlay\nfill 35 35 780 610 #121318\noutline 35 35 780 610 #EC4D66"));
  EXPECT_TRUE(contains(dump, "text 55 67 Sans16 #F3F0EF \"SELECT A FILE OR FOLDER\""));
  EXPECT_TRUE(contains(dump, "fill 55 171 740 385 #0A0B0E\noutline 55 171 740 385 #30323D"));
  EXPECT_TRUE(contains(dump, "clip 55 171 740 385"));
  EXPECT_TRUE(contains(dump, "text 65 193 Mono13 #F3F0EF \"[dir]  sub\""));
  EXPECT_TRUE(contains(dump, "text 65 219 Mono13 #F3F0EF \"       file.txt\""));
  EXPECT_TRUE(contains(dump, "fill 57 227 736 25 #43232D\ntext 65 245 Mono13 #9B9DAD \"[link] link\""));
  EXPECT_TRUE(contains(dump, "clip 55 565 740 20\ntext 55 582 Mono11 #9B9DAD \"3 entries \u00B7 double-click folders to open "
                             "\u00B7 links / non-UTF8 paths cannot be selected\""));
  EXPECT_TRUE(contains(dump, "text 671 617 Mono13 #626471 \"Use selected\"")) << "disabled label";
  EXPECT_TRUE(contains(dump, "outline 55 171 740 385 #F3F0EF")) << "a row click puts the focus on the list";

  dispatch_action(ui, UiAction::BrowserRowClicked, 1, kNow + 1000);
  frame = record_frame(ui, Size{850, 680});
  EXPECT_EQ(frame.regions.back(), "644 596 151 32 a=27 p=0");
  EXPECT_TRUE(contains(frame.dump, "fill 644 596 151 32 #D72B42")) << "primary";
  EXPECT_FALSE(contains(frame.dump, "a=19")) << "only the browser responds";

  // Each focus stop outlines its control when no field is focused.
  const std::vector<std::string> outlines{"", "outline 55 171 740 385 #F3F0EF", "outline 55 129 65 28 #F3F0EF",
                                          "outline 129 129 70 28 #F3F0EF", "outline 217 129 170 29 #F3F0EF",
                                          "outline 648 129 147 28 #F3F0EF", "outline 515 596 115 32 #F3F0EF",
                                          "outline 644 596 151 32 #F3F0EF"};
  for (std::size_t focus = 1; focus < outlines.size(); ++focus) {
    ui.browser.focus = static_cast<BrowserFocus>(focus);
    EXPECT_TRUE(contains(record_frame(ui, Size{850, 680}).dump, outlines[focus])) << focus;
  }
  focus_field(ui, kFieldBrowserPath);
  const std::string focused = record_frame(ui, Size{850, 680}).dump;
  for (std::size_t focus = 1; focus < outlines.size(); ++focus) {
    EXPECT_FALSE(contains(focused, outlines[focus])) << "the field shows its own focus";
  }
}

TEST(BrowserFrame, BackupModeAt1600x1000) {
  OpenBrowser open(UiAction::BrowseBackupFolder);
  UiState& ui = open.ui;
  ui.browser.message = "Choose an accessible folder to navigate.";
  const RecordedFrame frame = record_frame(ui, Size{1600, 1000});
  EXPECT_EQ(frame.regions, (std::vector<std::string>{
                               "375 198 850 35 a=0 p=5",
                               "375 244 65 28 a=28 p=0",
                               "449 244 70 28 a=29 p=0",
                               "542 249 117 23 a=31 p=0",
                               "1078 244 147 28 a=30 p=0",
                               "377 290 846 25 a=32 p=0",  // only the folder
                               "945 801 115 32 a=26 p=0",
                               "1074 801 151 32 a=27 p=0",  // the current folder can be used
                           }));
  EXPECT_TRUE(contains(frame.dump, "text 375 182 Sans16 #F3F0EF \"CHOOSE A BACKUP FOLDER\""));
  EXPECT_TRUE(contains(frame.dump, "outline 375 198 850 35 #EC4D66")) << "the path field has the focus";
  EXPECT_TRUE(contains(frame.dump, "\"Use this folder\""));
  EXPECT_TRUE(contains(frame.dump, "clip 375 770 850 20\ntext 375 787 Mono11 #E6B66C "
                                   "\"Choose an accessible folder to navigate.\""));
}

TEST(BrowserFrame, RowsScrollAndClipToTheListBox) {
  TempDir tree;
  for (int i = 0; i < 30; ++i) tree.file("f" + std::string(i < 10 ? "0" : "") + std::to_string(i));
  tree.file("bad\xff");
  UiState ui;
  ui.fields[kFieldTarget] = tree.path();
  dispatch_action(ui, UiAction::BrowseTarget, 0, kNow);
  scroll_at(ui, Size{850, 680}, 400, 300, 3);
  EXPECT_EQ(ui.browser.first_row, 3U);
  scroll_at(ui, Size{850, 680}, 400, 100, 3);  // over the buttons, not the list
  EXPECT_EQ(ui.browser.first_row, 3U);
  scroll_at(ui, Size{850, 680}, 400, 300, 300);
  RecordedFrame frame = record_frame(ui, Size{850, 680});
  EXPECT_EQ(ui.browser.first_row, 31U - 14U) << "14 rows fit at 850 x 680";
  EXPECT_EQ(ui.browser.visible_rows, 14U);
  EXPECT_TRUE(contains(frame.dump, "text 65 193 Mono13 #F3F0EF \"       f16\""));  // row 0 is "bad"
  EXPECT_FALSE(contains(frame.dump, "\"       f15\""));
  EXPECT_TRUE(contains(frame.dump, "fill 790 175 3 364 #30323D")) << "the scroll bar's track";
  scroll_at(ui, Size{850, 680}, 400, 300, -100);
  EXPECT_EQ(ui.browser.first_row, 0U);
  frame = record_frame(ui, Size{850, 680});
  EXPECT_TRUE(contains(frame.dump, "text 65 193 Mono13 #F3F0EF \"       bad\uFFFD\""))
      << "bytes that are not UTF-8 show as U+FFFD";
}

// The wheel reaches only the topmost layer, wherever the pointer is.
TEST(BrowserFrame, TheWheelNeverScrollsWhatLiesUnderTheBrowser) {
  TempDir tree;
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(200, 0));
  ui.fields[kFieldBackupDestination] = tree.path();
  const Size window{1600, 1000};
  record_frame(ui, window);
  scroll_at(ui, window, 1400, 600, 3);
  ASSERT_EQ(ui.review_scroll, 3) << "the review text lies there";

  dispatch_action(ui, UiAction::BrowseTarget, 0, kNow);
  scroll_at(ui, window, 1400, 600, 3);  // over the review text, outside the browser
  EXPECT_EQ(ui.review_scroll, 3);
  dispatch_action(ui, UiAction::CloseBrowser, 0, kNow);

  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, kNow);
  ASSERT_TRUE(ui.confirmation.open);
  dispatch_action(ui, UiAction::BrowseBackupFolder, 0, kNow);
  ASSERT_TRUE(ui.browser.open);
  scroll_at(ui, window, 700, 240, 3);  // the confirmation's text, under the browser
  scroll_at(ui, window, 1400, 600, 3);
  EXPECT_EQ(ui.confirmation.scroll, 0);
  EXPECT_EQ(ui.review_scroll, 3);
  const RecordedFrame frame = record_frame(ui, window);
  EXPECT_EQ(frame.regions.front(), "375 198 850 35 a=0 p=5") << "the confirmation's regions are gone";
  EXPECT_EQ(std::count_if(frame.regions.begin(), frame.regions.end(),
                          [](const std::string& r) { return contains(r, "a=24") || contains(r, "a=25"); }),
            0);

  dispatch_action(ui, UiAction::UseBrowserChoice, 0, kNow);
  EXPECT_FALSE(ui.browser.open);
  EXPECT_TRUE(ui.confirmation.open) << "the confirmation is still there";
  EXPECT_EQ(ui.fields[kFieldBackupDestination], std::filesystem::canonical(tree.path()).string());
}

}  // namespace
}  // namespace tarnwick
