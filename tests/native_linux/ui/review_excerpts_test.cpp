// The review page with the excerpt lines of real previewed files: the page
// text and its marks, Copy and "Copy all", and the marks drawn in colour.
#include <gtest/gtest.h>

#include <cstdio>

#include "native_linux/ui/keyboard.h"
#include "support/temp_tree.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;

constexpr std::int64_t kNow = 10'000;

// A reviewed preview of real files: find "tarn", replace with "fen", contents on.
UiState previewed_folder(FakeWorkers& workers, const std::string& folder) {
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = folder;
  ui.fields[kFieldFind] = "tarn";
  ui.fields[kFieldReplacement] = "fen";
  ui.edit_file_contents = true;
  start_preview(ui);
  workers.finish(run_preview(build_request(ui)));
  poll_worker(ui);
  return ui;
}

// files[i] says "say tarn {i}" on its second line.
void write_numbered_files(testing::TempDir& tree, int count) {
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "t/f%03d.txt", i);
    tree.file(name, "line one\nsay tarn " + std::to_string(i) + "\n");
  }
}

std::size_t count_of(const std::string& text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

TEST(ReviewExcerpts, APageOfAHundredEntriesShowsEachFilesMatchingLines) {
  testing::TempDir tree;
  write_numbered_files(tree, 120);
  FakeWorkers workers;
  UiState ui = previewed_folder(workers, tree / "t");
  ASSERT_TRUE(ui.preview) << (ui.status ? ui.status->message : "");
  const MarkedReviewText page = compose_marked_review_text(ui);
  EXPECT_TRUE(page.text.starts_with("0 renames / 120 content edits / 121 items scanned\nPage 1 of 2\n\n"));
  const std::string path = tree / "t/f007.txt";
  EXPECT_TRUE(testing::contains(page.text, "FILE  UTF-8 text  1 literal matches\n" + path + "\n> " + path +
                                               "\n  2: say tarn 7\n   → say fen 7\n\n"));
  EXPECT_EQ(count_of(page.text, "  2: say tarn "), 100U);
  EXPECT_EQ(count_of(page.text, "   → say fen "), 100U);
  ASSERT_EQ(page.marks.size(), 200U);
  for (const ExcerptSpan& mark : page.marks) {
    EXPECT_EQ(page.text.substr(mark.begin, mark.end - mark.begin), mark.mark == ExcerptMark::Find ? "tarn" : "fen");
  }
  // Copy puts the same page on the clipboard, without marks.
  dispatch_action(ui, UiAction::CopyReview, 0, kNow);
  EXPECT_EQ(ui.clipboard_text, page.text);

  // The excerpts are composed once per page, when it is drawn.
  EXPECT_EQ(ui.review_excerpts.page, 0U);
  dispatch_action(ui, UiAction::NextPage, 0, kNow);
  testing::record_frame(ui, Size{1100, 810});
  EXPECT_EQ(ui.review_excerpts.page, 1U);
  EXPECT_EQ(ui.review_excerpts.entries.size(), 20U);
  EXPECT_EQ(count_of(compose_review_text(ui), "  2: say tarn 11"), 10U);  // 110 to 119
  UiState applying = ui;
  applying.back_up_before_apply = false;
  start_apply(applying);
  EXPECT_FALSE(applying.review_excerpts.page) << "the plan goes to the apply worker with its excerpts";
  set_field_text(ui, kFieldReplacement, "bog");
  EXPECT_FALSE(ui.review_excerpts.page) << "an edit drops the preview and its excerpts";
}

TEST(ReviewExcerpts, CopyAllJoinsEveryPageAndControlShiftCIsItsKey) {
  testing::TempDir tree;
  write_numbered_files(tree, 250);
  tree.file("t/link-target");
  tree.symlink("t/zz-link", "link-target");  // one notice
  FakeWorkers workers;
  UiState ui = previewed_folder(workers, tree / "t");
  ASSERT_EQ(review_page_count(ui), 3U);
  std::string expected;
  for (int page = 0; page < 3; ++page) {
    if (page > 0) expected += "\n";  // the notices end each page with one line feed
    expected += compose_review_text(ui);
    dispatch_action(ui, UiAction::NextPage, 0, kNow);
  }
  EXPECT_EQ(count_of(expected, "PREVIEW NOTICES (1)\n"), 3U);
  dispatch_action(ui, UiAction::PreviousPage, 0, kNow);
  handle_key(ui, testing::letter('c', kModifierControl | kModifierShift), kNow);
  EXPECT_EQ(ui.clipboard_text, expected);
  EXPECT_EQ(count_of(ui.clipboard_text, "  2: say tarn "), 250U);
  EXPECT_EQ(ui.page, 1U) << "copying every page leaves the shown one";

  // With a field focused, the chord belongs to the field.
  ui.clipboard_text.clear();
  focus_field(ui, kFieldFind);
  handle_key(ui, testing::letter('c', kModifierControl | kModifierShift), kNow);
  EXPECT_EQ(ui.clipboard_text, "");
  // Without a preview, Copy all is Copy.
  set_field_text(ui, kFieldFind, "x");
  dispatch_action(ui, UiAction::CopyAllPages, 0, kNow);
  EXPECT_EQ(ui.clipboard_text, welcome_text());
}

TEST(ReviewExcerpts, FramesDrawTheMarksInTheirColoursAcrossWrappedLines) {
  testing::TempDir tree;
  tree.file("t/a.txt", "\tsay tarn\n" + std::string(70, '-') + "tarn" + std::string(10, '=') + "\n");
  FakeWorkers workers;
  UiState ui = previewed_folder(workers, tree / "t/a.txt");
  ASSERT_TRUE(ui.preview);
  // At 1100 x 810 the pane wraps at 77 columns of 8 pixels from x 439; the
  // excerpts begin on the sixth line, at baseline 554, 19 pixels apart.
  const std::string frame = testing::record_frame(ui, Size{1100, 810}).dump;
  const auto has = [&](std::string_view line) { return testing::contains(frame, line); };
  EXPECT_TRUE(has("text 439 554 Mono13 #F3F0EF \"  1: \\\\tsay \""));
  EXPECT_TRUE(has("text 527 554 Mono13 #EC4D66 \"tarn\""));
  EXPECT_TRUE(has("text 439 573 Mono13 #F3F0EF \"   → \\\\tsay \""));
  EXPECT_TRUE(has("text 527 573 Mono13 #64D4A5 \"fen\""));
  // The second match starts at column 75: the wrap cuts through its mark.
  const std::string dashes(70, '-');
  EXPECT_TRUE(has("text 439 592 Mono13 #F3F0EF \"  2: " + dashes + "\""));
  EXPECT_TRUE(has("text 1039 592 Mono13 #EC4D66 \"ta\""));
  EXPECT_TRUE(has("text 439 611 Mono13 #EC4D66 \"rn\""));
  EXPECT_TRUE(has("text 455 611 Mono13 #F3F0EF \"==========\""));
  EXPECT_TRUE(has("text 1039 630 Mono13 #64D4A5 \"fe\""));
  EXPECT_TRUE(has("text 439 649 Mono13 #64D4A5 \"n\""));
  // Lines without marks stay one piece of text.
  EXPECT_TRUE(has("text 439 497 Mono13 #F3F0EF \"FILE  UTF-8 text  2 literal matches\""));
}

}  // namespace
}  // namespace tarnwick
