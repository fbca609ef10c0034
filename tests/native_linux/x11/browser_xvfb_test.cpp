// The folder browser in the real program under Xvfb: choosing a target with
// the keyboard and a double click, choosing a backup folder from the
// confirmation, and the wheel reaching only the browser.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

class BrowserXvfbTest : public ScreenXvfbTest {};

std::string canonical(const std::string& path) { return std::filesystem::canonical(path).string(); }

TEST_F(BrowserXvfbTest, TheKeyboardOpensAFolderAndADoubleClickUsesAFile) {
  TempDir tree;
  const std::string file = tree.file("inner/Tarn notes.txt", "Tarn\n");
  tree.file("top.txt");
  retype(kTargetField, tree.path());
  click(kBrowseTarget);
  settle();
  keys("Down Return");  // "inner", the only folder, is the first row
  std::this_thread::sleep_for(200ms);
  screenshot("browser_target.png");
  double_click(kBrowserFirstRow);
  EXPECT_EQ(field_text(kTargetField, canonical(file)), canonical(file));
}

TEST_F(BrowserXvfbTest, TheConfirmationsBrowseChoosesTheBackupFolder) {
  TempDir tree;
  tree.file("Tarn.txt", "x");
  TempDir backups;
  backups.folder("kept");
  retype(kTargetField, tree.path());
  keys("Return");
  wait_for_review("renames /");
  click(kApplyReviewed);
  settle();
  click(kConfirmBrowse);
  settle();
  keys("ctrl+a");  // the path field has the focus in backup mode
  type(backups.path());
  keys("Return");
  std::this_thread::sleep_for(200ms);
  screenshot("browser_backup.png");
  click(kBrowserUse);  // no row selected: the folder shown
  settle();
  EXPECT_EQ(field_text(kConfirmDestination, canonical(backups.path())), canonical(backups.path()));
}

TEST_F(BrowserXvfbTest, TheWheelScrollsTheListAndNotTheReviewPane) {
  TempDir tree;
  // Long paths, so that the review text has many lines and a scroll bar.
  const std::string folder = tree.folder("a folder name long enough to wrap every line of the review pane");
  for (int i = 0; i < 30; ++i) tree.file(folder.substr(tree.path().size() + 1) + "/Tarn " + (i < 10 ? "0" : "") +
                                         std::to_string(i) + ".txt");
  retype(kTargetField, folder);
  keys("Return");
  wait_for_review("renames /");
  // The review pane's right edge and scroll bar, beside the browser's box.
  const Point over_review{1030, 500};
  const std::string unscrolled = pixels_digest(1000, 426, 80, 235);
  wheel_down(over_review);
  EXPECT_NE(pixels_digest(1000, 426, 80, 235), unscrolled) << "the review pane scrolls while nothing covers it";
  wheel_up(over_review);
  ASSERT_EQ(pixels_digest(1000, 426, 80, 235), unscrolled);

  click(kBrowseTarget);
  settle();
  wheel_down(over_review);
  EXPECT_EQ(pixels_digest(1000, 426, 80, 235), unscrolled) << "nothing under the browser scrolls";
  wheel_down(kBrowserList);  // three rows
  std::this_thread::sleep_for(200ms);
  double_click(kBrowserFirstRow);
  const std::string expected = canonical(folder) + "/Tarn 03.txt";
  EXPECT_EQ(field_text(kTargetField, expected), expected);
}

}  // namespace
}  // namespace tarnwick::testing
