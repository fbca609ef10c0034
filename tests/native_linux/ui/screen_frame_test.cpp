// Frames of the main screen through the recording canvas: the clickable
// geometry at several window sizes, disabled states, the topmost-layer rule
// and the press guard of a freshly opened confirmation.
#include <gtest/gtest.h>

#include <sstream>

#include "native_linux/ui/screen_layout.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::plan_with;
using testing::previewed_state;

std::vector<std::string> regions_of(UiState& ui, Size window) {
  RecordingCanvas canvas;
  canvas.begin_frame();
  draw_frame(canvas, ui, window);
  std::vector<std::string> lines;
  for (const HitRegion& r : canvas.hit_regions()) {
    std::ostringstream line;
    line << r.rect.x << ' ' << r.rect.y << ' ' << r.rect.width << ' ' << r.rect.height << " a=" << int{r.action}
         << " p=" << r.payload;
    lines.push_back(line.str());
  }
  return lines;
}

std::string frame_of(UiState& ui, Size window) {
  RecordingCanvas canvas;
  canvas.begin_frame();
  draw_frame(canvas, ui, window);
  return canvas.dump();
}

bool contains(const std::string& text, std::string_view needle) { return text.find(needle) != std::string::npos; }

TEST(ScreenFrame, TallLayoutAt1100x810) {
  UiState ui;
  EXPECT_EQ(regions_of(ui, Size{1100, 810}), (std::vector<std::string>{
                                                 "36 182 892 40 a=0 p=0",    // target field
                                                 "944 182 120 40 a=1 p=0",   // Browse…
                                                 "20 297 518 40 a=0 p=1",    // find
                                                 "554 297 526 40 a=0 p=2",   // replacement
                                                 "36 401 109 23 a=8 p=0",    // Match case
                                                 "36 453 213 23 a=9 p=0",    // Include folder contents
                                                 "36 487 149 23 a=10 p=0",   // Unlimited depth
                                                 "36 540 173 23 a=11 p=0",   // Edit file contents
                                                 "36 599 115 31 a=18 p=0",   // All
                                                 "155 599 115 31 a=18 p=1",  // Only
                                                 "274 599 115 31 a=18 p=2",  // Exclude
                                                 "36 711 243 36 a=19 p=0",   // Preview changes
                                                 "287 711 104 36 a=2 p=0",   // Backups…
                                                 "904 679 84 29 a=33 p=0",   // Copy all
                                                 "996 679 68 29 a=23 p=0",   // Copy
                                             }));
  const std::string frame = frame_of(ui, Size{1100, 810});
  EXPECT_TRUE(contains(frame, "fill 20 354 387 408 #121318"));   // options panel
  EXPECT_TRUE(contains(frame, "fill 423 354 657 408 #121318"));  // review panel
  EXPECT_TRUE(contains(frame, "fill 36 627 115 3 #EC4D66"));     // the All underline
  EXPECT_TRUE(contains(frame, "text 439 405 Mono11 #9B9DAD \"Preview first. Apply only when every change is right.\""));
  EXPECT_TRUE(contains(frame, "clip 438 426 627 235"));
  EXPECT_TRUE(contains(frame, "text 439 440 Mono13 #F3F0EF \"A fresh name. Everywhere.\""));
  EXPECT_TRUE(contains(frame, "text 36 569 Mono11 #9B9DAD \"Contents stay unchanged until enabled.\""));
}

TEST(ScreenFrame, ShortLayoutAt1100x779) {
  UiState ui;
  ui.unlimited_depth = false;
  ui.extension_filter = ExtensionFilter::Mode::OnlyListed;
  ui.edit_file_contents = true;
  const std::vector<std::string> regions = regions_of(ui, Size{1100, 779});
  EXPECT_EQ(regions, (std::vector<std::string>{
                         "36 156 892 35 a=0 p=0",
                         "944 156 120 35 a=1 p=0",
                         "20 259 518 35 a=0 p=1",
                         "554 259 526 35 a=0 p=2",
                         "36 351 109 23 a=8 p=0",
                         "36 383 213 23 a=9 p=0",
                         "36 415 149 23 a=10 p=0",
                         "331 408 60 33 a=0 p=3",   // depth field
                         "36 447 173 23 a=11 p=0",
                         "295 441 96 29 a=12 p=0",  // content mode button
                         "36 501 115 27 a=18 p=0",
                         "155 501 115 27 a=18 p=1",
                         "274 501 115 27 a=18 p=2",
                         "36 539 355 32 a=0 p=4",   // extensions field
                         "36 680 243 36 a=19 p=0",
                         "287 680 104 36 a=2 p=0",
                         "904 648 84 29 a=33 p=0",
                         "996 648 68 29 a=23 p=0",
                     }));
  const std::string frame = frame_of(ui, Size{1100, 779});
  EXPECT_FALSE(contains(frame, "ONE REPLACEMENT")) << "tall only";
  EXPECT_FALSE(contains(frame, "Root = 0")) << "tall only";
  EXPECT_TRUE(contains(frame, "text 288 428 Mono11 #9B9DAD \"Depth\""));
}

TEST(ScreenFrame, LeftColumnFollowsTheWindowWidth) {
  EXPECT_EQ(main_layout(Size{800, 810}).left_column, 330);
  EXPECT_EQ(main_layout(Size{891, 810}).left_column, 330);
  EXPECT_EQ(main_layout(Size{892, 810}).left_column, 330);  // 892 * 37 = 33,004: 37% of it
  EXPECT_EQ(main_layout(Size{1100, 810}).left_column, 407);
  EXPECT_EQ(main_layout(Size{1400, 810}).left_column, 430);
  EXPECT_FALSE(main_layout(Size{1100, 779}).tall);
  EXPECT_TRUE(main_layout(Size{1100, 780}).tall);

  UiState ui;
  const std::vector<std::string> narrow = regions_of(ui, Size{800, 810});
  EXPECT_EQ(narrow[11], "36 711 166 36 a=19 p=0");
  EXPECT_EQ(narrow[12], "210 711 104 36 a=2 p=0");
  EXPECT_EQ(narrow.back(), "696 679 68 29 a=23 p=0");
  EXPECT_TRUE(contains(frame_of(ui, Size{800, 810}), "\"Preview first. Apply after reviewing every change.\""));
  const std::vector<std::string> wide = regions_of(ui, Size{1400, 810});
  EXPECT_EQ(wide[11], "36 711 266 36 a=19 p=0");
  EXPECT_EQ(wide[12], "310 711 104 36 a=2 p=0");
  EXPECT_EQ(wide[2], "20 297 668 40 a=0 p=1");
  EXPECT_EQ(wide[3], "704 297 676 40 a=0 p=2");
}

TEST(ScreenFrame, NothingIsClickableWhileAWorkerRuns) {
  FakeWorkers workers;
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  dispatch_action(ui, UiAction::PreviewChanges, 0, 0);
  ASSERT_TRUE(ui.worker.busy());
  EXPECT_EQ(regions_of(ui, Size{1100, 810}), std::vector<std::string>{"439 719 104 33 a=37 p=0"})
      << "only Cancel";
  ui.worker.control->stop_accepting_cancel();
  refresh_progress(ui, 0);
  EXPECT_TRUE(regions_of(ui, Size{1100, 810}).empty());
  const std::string frame = frame_of(ui, Size{1100, 810});
  EXPECT_TRUE(contains(frame, "\"Working\u2026\""));
  EXPECT_TRUE(contains(frame, "\"Building your preview...\""));
}

TEST(ScreenFrame, ApplyAndPagingButtonsFollowThePreview) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(250, 30));
  std::vector<std::string> regions = regions_of(ui, Size{1100, 810});
  EXPECT_EQ(regions[regions.size() - 4], "548 679 86 29 a=22 p=0");   // Next
  EXPECT_EQ(regions.back(), "439 719 625 33 a=20 p=0");              // Apply reviewed changes
  const std::string frame = frame_of(ui, Size{1100, 810});
  EXPECT_TRUE(contains(frame, "fill 1071 426 3 235 #30323D")) << "scroll bar track at W - 29";

  dispatch_action(ui, UiAction::NextPage, 0, 0);
  regions = regions_of(ui, Size{1100, 810});
  EXPECT_EQ(regions[regions.size() - 5], "439 679 101 29 a=21 p=0");  // Previous
  EXPECT_TRUE(contains(frame_of(ui, Size{1100, 810}), "text 647 699 Mono11 #9B9DAD \"Page 2\""));

  set_field_text(ui, kFieldFind, "Other");
  regions = regions_of(ui, Size{1100, 810});
  EXPECT_EQ(regions.back(), "996 679 68 29 a=23 p=0") << "Apply disabled after an edit";
}

TEST(ScreenFrame, TheReviewScrollIsClampedWhenDrawn) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(100, 0));
  ui.review_scroll = 1'000'000;
  frame_of(ui, Size{1100, 810});
  // 4 lines per entry, 3 header lines and the empty last line, less the 12 visible.
  EXPECT_EQ(ui.review_scroll, 4 * 100 + 4 - 12);
  scroll_at(ui, Size{1100, 810}, 500, 500, -3);
  EXPECT_EQ(ui.review_scroll, 4 * 100 + 4 - 15);
  scroll_at(ui, Size{1100, 810}, 100, 500, -3);  // not over the text
  EXPECT_EQ(ui.review_scroll, 4 * 100 + 4 - 15);
}

// Names in wide scripts, drawn about 13 pixels a character by fallback fonts,
// are wrapped by their drawn width: no line of the review or the confirmation
// runs past its area.
TEST(ScreenFrame, WideCharactersWrapInsideTheReviewAndTheConfirmation) {
  FakeWorkers workers;
  PreviewPlan plan = plan_with(1, 1);
  std::string name;
  for (int i = 0; i < 60; ++i) name += "文件";
  plan.changes[0].original_path = "/t/" + name;
  plan.notices[0] = "Skipped " + name;
  UiState ui = previewed_state(workers, plan);
  RecordingCanvas canvas;
  for (const char32_t wide : {U'文', U'件'}) canvas.set_code_point_advance(wide, 13);
  const auto widest = [&](std::string_view prefix) {
    std::int32_t widest_line = 0;
    std::istringstream lines(canvas.dump());
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with(prefix)) continue;
      const std::string text = line.substr(line.find('"') + 1, line.rfind('"') - line.find('"') - 1);
      widest_line = std::max(widest_line, canvas.measure_text(text, FontRole::Mono13));
    }
    return widest_line;
  };
  canvas.begin_frame();
  draw_frame(canvas, ui, Size{1100, 810});
  EXPECT_GT(widest(std::string("text 439 ")), 600);
  EXPECT_LE(widest(std::string("text 439 ")), 627) << "the review's text area is 627 pixels wide";

  ui.fields[kFieldBackupDestination] = "/b/" + name;  // named in the confirmation's text
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  canvas.clear();
  draw_frame(canvas, ui, Size{1100, 810});
  EXPECT_GT(widest(std::string("text 184 ")), 700);
  EXPECT_LE(widest(std::string("text 184 ")), 732) << "the confirmation's text area is 732 pixels wide";
}

TEST(ScreenFrame, OnlyTheConfirmationRespondsWhileItIsOpen) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
  EXPECT_EQ(regions_of(ui, Size{1100, 810}), (std::vector<std::string>{
                                                 "184 538 189 23 a=3 p=0",  // Back up before Apply
                                                 "184 594 606 35 a=0 p=6",  // destination field
                                                 "802 594 114 35 a=4 p=0",  // Browse…
                                                 "600 702 145 34 a=25 p=0", // Cancel; Apply is disabled
                                             }));
  const std::string frame = frame_of(ui, Size{1100, 810});
  EXPECT_TRUE(contains(frame, "overlay"));
  EXPECT_TRUE(contains(frame, "outline 160 55 780 700 #EC4D66"));
  EXPECT_TRUE(contains(frame, "outline 600 702 145 34 #F3F0EF")) << "focus on Cancel";
  EXPECT_TRUE(contains(frame, "#E6B66C \"Choose a backup folder to enable Apply. Your preview stays available.\""));
  EXPECT_TRUE(contains(frame, "text 184 147 Mono13 #F3F0EF \"Apply the reviewed changes?\""));

  ui.fields[kFieldBackupDestination] = "/b";
  EXPECT_EQ(regions_of(ui, Size{1100, 810}).back(), "759 702 157 34 a=24 p=0");
  EXPECT_TRUE(contains(frame_of(ui, Size{1100, 810}),
                       "#9B9DAD \"Full selected-target copy; backup must succeed before any selected file changes.\""));
}

// The confirmation's "Apply changes" lies under "Apply reviewed changes": the
// second press of a double click must not apply.
TEST(ScreenFrame, ADoubleClickOpensTheConfirmationButAppliesNothing) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(2, 0));
  ui.back_up_before_apply = false;
  const Size window{1100, 810};
  const auto press = [&](std::int64_t now_ms) {
    RecordingCanvas canvas;
    canvas.begin_frame();
    draw_frame(canvas, ui, window);
    press_at(ui, hit_test(canvas.hit_regions(), 830, 727), 727, now_ms);
  };
  press(10'000);
  ASSERT_TRUE(ui.confirmation.open);
  press(10'100);
  EXPECT_TRUE(ui.confirmation.open);
  EXPECT_EQ(workers.starts, 1) << "only the preview";
  press(10'600);
  EXPECT_FALSE(ui.confirmation.open);
  EXPECT_TRUE(ui.worker.apply_running);
  EXPECT_EQ(workers.starts, 2);
}

TEST(ScreenFrame, DepthFieldBorderTurnsAmberWhenItDoesNotParse) {
  UiState ui;
  dispatch_action(ui, UiAction::ToggleUnlimitedDepth, 0, 0);
  EXPECT_TRUE(contains(frame_of(ui, Size{1100, 810}), "text 340 501 Mono13 #F3F0EF \"1\""));
  set_field_text(ui, kFieldDepth, "");
  const std::string frame = frame_of(ui, Size{1100, 810});
  EXPECT_TRUE(contains(frame, "outline 331 480 60 33 #E6B66C"));
  const std::vector<std::string> regions = regions_of(ui, Size{1100, 810});
  EXPECT_EQ(std::count(regions.begin(), regions.end(), "36 711 243 36 a=19 p=0"), 0) << "Preview disabled";
}

}  // namespace
}  // namespace tarnwick
