// The Preserve case box of the main screen: enabled only while Match case is
// off (by click and by Alt+R), part of the request, dropping the preview when
// changed, placed beside Match case at the smallest and a large window, and
// the review's sentence while it takes effect.
#include <gtest/gtest.h>

#include <algorithm>

#include "native_linux/ui/keyboard.h"
#include "native_linux/ui/screen_layout.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::contains;
using testing::FakeWorkers;
using testing::letter;
using testing::plan_with;
using testing::record_frame;

constexpr std::int64_t kNow = 90'000;
constexpr std::string_view kSentence =
    "Preserve case is on: a match in lower case gets the replacement in lower case, a match in upper case (two "
    "letters or more) gets it in upper case, a match with only its first letter in upper case gets the replacement "
    "with its first letter in upper case, and any other match gets it as typed (ASCII letters only).";

std::optional<Rect> region_of(UiState& ui, Size window, UiAction action) {
  RecordingCanvas canvas;
  canvas.begin_frame();
  draw_frame(canvas, ui, window);
  for (const HitRegion& region : canvas.hit_regions()) {
    if (region.action == static_cast<std::uint8_t>(action)) return region.rect;
  }
  return std::nullopt;
}

UiState reviewed(FakeWorkers& workers, bool match_case, bool preserve_case) {
  UiState ui;
  ui.spawn = workers.spawner();
  ui.fields[kFieldTarget] = "/t";
  ui.match_case = match_case;
  ui.preserve_case = preserve_case;
  start_preview(ui);
  workers.finish(PreviewFinished{build_request(ui), plan_with(3, 0)});
  poll_worker(ui);
  return ui;
}

TEST(PreserveCaseBox, OnlyWhileMatchCaseIsOffByClickOrAltR) {
  UiState ui;
  EXPECT_FALSE(ui.preserve_case) << "off at start";
  EXPECT_FALSE(region_of(ui, Size{1100, 810}, UiAction::TogglePreserveCase)) << "disabled with match case on";
  EXPECT_TRUE(contains(record_frame(ui, Size{1100, 810}).dump, "Mono13 #9B9DAD \"Preserve case\""))
      << "drawn disabled";
  dispatch_action(ui, UiAction::TogglePreserveCase, 0, kNow);
  handle_key(ui, letter('r', kModifierAlt, "r"), kNow);
  EXPECT_FALSE(ui.preserve_case);

  dispatch_action(ui, UiAction::ToggleMatchCase, 0, kNow);
  EXPECT_TRUE(region_of(ui, Size{1100, 810}, UiAction::TogglePreserveCase));
  handle_key(ui, letter('r', kModifierAlt, "r"), kNow);
  EXPECT_TRUE(ui.preserve_case);
  EXPECT_TRUE(build_request(ui).preserve_case);
  EXPECT_TRUE(preserves_case(build_request(ui)));
  ui.alt_held = true;
  EXPECT_TRUE(contains(record_frame(ui, Size{1100, 810}).dump, "Mono13 #F3F0EF \"Preserve case\"")) << "enabled";

  // Match case back on keeps the tick but the request no longer preserves case.
  dispatch_action(ui, UiAction::ToggleMatchCase, 0, kNow);
  EXPECT_TRUE(ui.preserve_case);
  EXPECT_FALSE(preserves_case(build_request(ui)));
}

TEST(PreserveCaseBox, SitsBesideMatchCaseInsideTheOptionsColumn) {
  for (const Size window : {Size{850, 680}, Size{1600, 1000}}) {
    SCOPED_TRACE(std::to_string(window.width));
    UiState ui;
    ui.match_case = false;
    const std::optional<Rect> match = region_of(ui, window, UiAction::ToggleMatchCase);
    const std::optional<Rect> preserve = region_of(ui, window, UiAction::TogglePreserveCase);
    ASSERT_TRUE(match && preserve);
    EXPECT_EQ(preserve->y, match->y);
    EXPECT_GT(preserve->x, match->x + match->width);
    EXPECT_LE(preserve->x + preserve->width, main_layout(window).left_column - 12);
  }
}

TEST(PreserveCaseBox, ChangingItDropsThePreviewAndTheReviewStatesTheRuleWhileItTakesEffect) {
  FakeWorkers workers;
  UiState on = reviewed(workers, false, true);
  const std::string text = compose_review_text(on);
  EXPECT_NE(text.find("Page 1 of 1\n\n" + std::string(kSentence) + "\n\nFILE  NAME"), std::string::npos) << text;
  dispatch_action(on, UiAction::TogglePreserveCase, 0, kNow);
  EXPECT_FALSE(on.preview);
  EXPECT_FALSE(on.request_snapshot);

  EXPECT_FALSE(contains(compose_review_text(reviewed(workers, false, false)), "Preserve case is on"));
  EXPECT_FALSE(contains(compose_review_text(reviewed(workers, true, true)), "Preserve case is on"))
      << "no effect with match case on";
}

}  // namespace
}  // namespace tarnwick
