// The real program under Xvfb with real clients: Alt chords and their
// underlined letters (xdotool holding Alt, the focus taken away), the review's
// scroll bar pressed and dragged, and paths pasted from a file manager's copy
// (xclip offering text/uri-list, x-special/gnome-copied-files or a file URI as
// text).
#include <gtest/gtest.h>
// Xlib defines None, which gtest uses as a name: include it after gtest.
#include <X11/Xlib.h>

#include <string>

#include "screen_xvfb_fixture.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {
namespace {

// The label of "Match case", whose M is underlined while Alt is held.
constexpr Point kMatchCaseLabel{60, 400};
// The review's text area and scroll bar at the start size; its track runs
// from y 426 for 235 pixels at x 1071.
constexpr Point kReviewArea{438, 426};
constexpr int kReviewWidth = 642;
constexpr int kReviewHeight = 235;
constexpr int kTrackX = 1072;

class KeyboardPasteXvfbTest : public ScreenXvfbTest {
 protected:
  std::string label_pixels() { return pixels_digest(kMatchCaseLabel.x, kMatchCaseLabel.y, 100, 25); }
  std::string review_pixels() { return pixels_digest(kReviewArea.x, kReviewArea.y, kReviewWidth, kReviewHeight); }
  void pointer(const std::string& actions) {
    ASSERT_EQ(server_.run("xdotool mousemove --window " + std::to_string(window_) + " " + actions), 0);
  }
  // Offers `data` as the CLIPBOARD in one target only, as a file manager's copy does.
  void offer_files(const std::string& target, const std::string& data) {
    ASSERT_EQ(server_.run("sh -c \"printf %s " + quoted(data) + " | xclip -i -selection clipboard -t " + target +
                          "\" >/dev/null 2>&1"),
              0);
  }
  // Pastes over the whole text of a field, and lets the owner answer before
  // anything else moves the focus.
  void paste_into(Point field) {
    click(field);
    keys("ctrl+a ctrl+v");
    std::this_thread::sleep_for(300ms);
  }
};

TEST_F(KeyboardPasteXvfbTest, AltChordsActAndTheirLettersShowOnlyWhileAltIsHeld) {
  TempDir tree;
  const std::string folder = tree.folder("docs");
  tree.file("docs/tarn notes.txt", "x");
  retype(kTargetField, folder);
  const std::string plain = label_pixels();
  ASSERT_EQ(server_.run("xdotool keydown alt"), 0);
  const std::string held = label_pixels();
  EXPECT_NE(held, plain) << "the M of Match case is underlined";
  // The focus goes away while Alt is down, and Alt is let go elsewhere.
  Display* display = XOpenDisplay(server_.display().c_str());
  ASSERT_NE(display, nullptr);
  XSetInputFocus(display, None, RevertToNone, CurrentTime);
  XSync(display, False);
  ASSERT_EQ(server_.run("xdotool keyup alt"), 0);
  ASSERT_EQ(server_.run("xdotool windowfocus --sync " + std::to_string(window_)), 0);
  XCloseDisplay(display);
  EXPECT_EQ(label_pixels(), plain) << "no underline left behind by the lost focus";
  keys("alt+m");
  EXPECT_EQ(label_pixels(), plain) << "let go at the end of the chord";

  // Alt+M turned Match case off: "Tarn" now finds "tarn". The focus stayed in
  // the target field, which the chord did not type into.
  keys("Return");
  const std::string review = wait_for_review("renames /");
  EXPECT_NE(review.find("1 renames / 0 content edits / 2 items scanned"), std::string::npos) << review;
  EXPECT_EQ(field_text(kTargetField, folder), folder);
  keys("Escape alt+i Return");
  EXPECT_NE(wait_for_review("items scanned").find("0 renames / 0 content edits / 1 items scanned"), std::string::npos)
      << "Alt+I left the folder's contents out";
}

TEST_F(KeyboardPasteXvfbTest, TheReviewScrollBarPagesAndDragsAndHomeAndEndMatchIt) {
  TempDir tree;
  for (int i = 0; i < 30; ++i) tree.file("Tarn " + std::to_string(100 + i) + ".txt", "x");
  retype(kTargetField, tree.path());
  keys("Return");
  wait_for_review("30 renames");
  keys("Escape");
  const std::string top = review_pixels();
  keys("End");
  const std::string bottom = review_pixels();
  ASSERT_NE(bottom, top);
  keys("Home");
  ASSERT_EQ(review_pixels(), top);

  // A press below the thumb pages down; one above it pages back up.
  pointer(std::to_string(kTrackX) + " " + std::to_string(kReviewArea.y + kReviewHeight - 5) + " click 1");
  const std::string paged = review_pixels();
  EXPECT_NE(paged, top);
  EXPECT_NE(paged, bottom);
  pointer(std::to_string(kTrackX) + " " + std::to_string(kReviewArea.y + 2) + " click 1");
  EXPECT_EQ(review_pixels(), top);

  // The thumb (at the top, 22 pixels long) dragged past the end, then back.
  pointer(std::to_string(kTrackX) + " " + std::to_string(kReviewArea.y + 8) + " mousedown 1");
  pointer(std::to_string(kTrackX) + " " + std::to_string(kReviewArea.y + 120));
  pointer(std::to_string(kTrackX) + " 790 mouseup 1");
  EXPECT_EQ(review_pixels(), bottom);
  pointer(std::to_string(kTrackX) + " " + std::to_string(kReviewArea.y + kReviewHeight - 8) + " mousedown 1");
  pointer(std::to_string(kTrackX) + " 300 mouseup 1");
  EXPECT_EQ(review_pixels(), top);
}

TEST_F(KeyboardPasteXvfbTest, CopiedFilesArePastedAsPathsIntoPathFieldsOnly) {
  TempDir tree;
  const std::string listed = tree.folder("Tarn docs");
  const std::string copied = tree.folder("Tarn été");
  const std::string typed = tree.folder("Tarn plain");
  const std::string file_uri = "file://" + tree.path();

  offer_files("text/uri-list", "# copied\r\n" + file_uri + "/Tarn%20docs\r\n");
  paste_into(kTargetField);
  EXPECT_EQ(field_text(kTargetField, listed), listed);

  offer_files("x-special/gnome-copied-files", "copy\n" + file_uri + "/Tarn%20%C3%A9t%C3%A9");
  paste_into(kTargetField);
  EXPECT_EQ(field_text(kTargetField, copied), copied);

  // A file URI as plain text: a path in the target, text as it is in Find.
  const std::string uri = file_uri + "/Tarn%20plain";
  offer_clipboard(uri);
  paste_into(kTargetField);
  EXPECT_EQ(field_text(kTargetField, typed), typed);
  offer_clipboard(uri);  // copying the field's text took the clipboard
  paste_into(kFindField);
  EXPECT_EQ(field_text(kFindField, uri), uri);

  // Two copied files are refused in the drop's words; the field keeps its text.
  offer_files("text/uri-list", uri + "\r\nfile:///tmp\r\n");
  paste_into(kTargetField);
  EXPECT_NE(wait_for_review("Drop one file or folder at a time.").find("OPERATION STOPPED"), std::string::npos);
  EXPECT_EQ(field_text(kTargetField, typed), typed);
}

}  // namespace
}  // namespace tarnwick::testing
