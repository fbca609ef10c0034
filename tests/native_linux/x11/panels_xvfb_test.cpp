// The content settings and Backups panels in the real program under Xvfb, on
// real files: an encoding chosen from the list, "Binary only", length changes
// allowed, and a backup made with "Back up now" alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

constexpr Point kEditFileContents{45, 549};
constexpr std::size_t kWindows1251Row = 8;

class PanelsXvfbTest : public ScreenXvfbTest {
 protected:
  // Pastes text into a field of the main screen, replacing what it held.
  void paste_into(Point field, const std::string& text) {
    offer_clipboard(text);
    click(field);
    keys("ctrl+a ctrl+v");
    std::this_thread::sleep_for(300ms);
  }

  // Previews (with no field focused), then applies without a backup.
  std::string preview_and_apply_without_backup() {
    keys("Escape Return");
    wait_for_review("content edits");
    click(kApplyReviewed);
    settle();
    click(kConfirmBackupCheckbox);
    click(kConfirmApply);
    return wait_for_review("CHANGES COMPLETE");
  }
};

TEST_F(PanelsXvfbTest, AnEncodingChosenWithTheKeyboardDecodesAndReencodes) {
  TempDir tree;
  // "Привет, Tarn!" in Windows-1251.
  const std::string file = tree.file("letter.txt", "\xCF\xF0\xE8\xE2\xE5\xF2, Tarn!\n");
  retype(kTargetField, tree.path());
  click(kEditFileContents);
  paste_into(kFindField, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");  // Привет
  paste_into(kReplacementField, "\xD0\x9F\xD0\xBE\xD0\xBA\xD0\xB0");              // Пока
  keys("Escape ctrl+e");
  settle();
  keys("Tab Return");  // the encoding selector opens the list
  for (std::size_t i = 0; i < kWindows1251Row; ++i) keys("Down");
  std::this_thread::sleep_for(200ms);
  screenshot("content_panel_encoding_list.png");
  keys("Return Escape");
  const std::string done = preview_and_apply_without_backup();
  EXPECT_NE(done.find("0 names changed\n1 files edited\n1 literal replacements"), std::string::npos) << done;
  EXPECT_EQ(read_file(file), "\xCF\xEE\xEA\xE0, Tarn!\n");  // "Пока, Tarn!" in Windows-1251
}

TEST_F(PanelsXvfbTest, BinaryOnlyTreatsATextFileAsRawBinary) {
  TempDir tree;
  const std::string file = tree.file("notes.txt", "Tarn here\n");
  retype(kTargetField, tree.path());
  retype(kReplacementField, "Tern");
  click(kEditFileContents);
  keys("Escape ctrl+e");
  settle();
  keys("Right");  // from "Text + binary" to "Binary only"
  std::this_thread::sleep_for(200ms);
  screenshot("content_panel.png");
  keys("Escape Return");
  const std::string review = wait_for_review("content edits");
  EXPECT_NE(review.find("FILE  Raw binary \u00B7 fixed width \u00B7 UTF-8 pattern  1 literal matches\n" + file),
            std::string::npos)
      << review;
}

TEST_F(PanelsXvfbTest, AllowedLengthChangesResizeABinaryReplacement) {
  TempDir tree;
  const std::string file = tree.file("data.bin", std::string("\x00\x01Tarn\x00\x02", 8));
  retype(kTargetField, tree.path());
  click(kEditFileContents);
  keys("Escape ctrl+e");
  settle();
  keys("Tab Tab space Escape");  // to the length-changes box, tick it, close
  const std::string done = preview_and_apply_without_backup();
  EXPECT_NE(done.find("1 files edited"), std::string::npos) << done;
  EXPECT_EQ(read_file(file), std::string("\x00\x01Tarnwick\x00\x02", 12));
}

TEST_F(PanelsXvfbTest, BackUpNowCopiesTheTargetAndChangesNothing) {
  TempDir tree;
  tree.file("Tarn notes.txt", "Tarn\n");
  tree.file(".hidden", "h");
  tree.folder("empty");
  tree.file("sub/data.bin", std::string("\x00\xFF", 2));
  TempDir backups;
  const TreeSnapshot before = snapshot_tree(tree.path());
  retype(kTargetField, tree.path());
  keys("Escape ctrl+b");
  settle();
  keys("Tab Tab");  // from Done, round to the destination field
  type(backups.path());
  keys("Tab Tab");  // Browse…, Back up now
  std::this_thread::sleep_for(200ms);
  screenshot("backups_panel.png");
  keys("Return");
  const std::string review = wait_for_review("Backup complete:");
  EXPECT_NE(review.find("Backup complete: 3 files / 8 bytes\n"), std::string::npos) << review;
  std::vector<std::filesystem::path> folders;
  for (const auto& entry : std::filesystem::directory_iterator(backups.path())) folders.push_back(entry.path());
  ASSERT_EQ(folders.size(), 1U);
  EXPECT_TRUE(folders[0].filename().string().starts_with("Tarnwick-backup-")) << folders[0];
  const std::string copy = (folders[0] / std::filesystem::path(tree.path()).filename()).string();
  EXPECT_EQ(describe_difference(before, snapshot_tree(copy)), "");
  EXPECT_EQ(describe_difference(before, snapshot_tree(tree.path())), "") << "the target is unchanged";
}

}  // namespace
}  // namespace tarnwick::testing
