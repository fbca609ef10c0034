// Every control of the main screen from the keyboard: the Alt chords with
// their enabling rules and underlined letters; the review's scroll bar pressed
// and dragged, and End.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "native_linux/ui/keyboard.h"
#include "native_linux/ui/screen_layout.h"
#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::contains;
using testing::FakeWorkers;
using testing::key;
using testing::letter;
using testing::plan_with;
using testing::previewed_state;
using testing::record_frame;

constexpr std::int64_t kNow = 90'000;
constexpr Size kWindow{1100, 810};

void alt(UiState& ui, char c, unsigned more = 0) {
  handle_key(ui, letter(c, kModifierAlt | more, std::string(1, c)), kNow);
}

struct ChordCase {
  char letter;
  std::function<bool(const UiState&)> done;  // what the chord did to a fresh screen
};

TEST(AltChords, EachActivatesItsControlWithoutTypingIntoTheFocusedField) {
  const std::vector<ChordCase> cases{
      {'m', [](const UiState& ui) { return !ui.match_case; }},
      {'i', [](const UiState& ui) { return !ui.include_folder_contents; }},
      {'u', [](const UiState& ui) { return !ui.unlimited_depth; }},
      {'e', [](const UiState& ui) { return ui.edit_file_contents; }},
      {'o', [](const UiState& ui) { return ui.extension_filter == ExtensionFilter::Mode::OnlyListed; }},
      {'x', [](const UiState& ui) { return ui.extension_filter == ExtensionFilter::Mode::ExcludeListed; }},
      {'w', [](const UiState& ui) { return ui.browser.open && ui.browser.mode == BrowserMode::Target; }},
      {'k', [](const UiState& ui) { return ui.backups_panel.open; }},
      {'P', [](const UiState& ui) { return ui.worker.busy(); }},  // with Shift: case is ignored
  };
  for (const ChordCase& chord : cases) {
    SCOPED_TRACE(std::string("Alt+") + chord.letter);
    FakeWorkers workers;
    UiState ui;
    ui.spawn = workers.spawner();
    ui.fields[kFieldTarget] = "/t";
    focus_field(ui, kFieldFind);
    alt(ui, chord.letter, chord.letter == 'P' ? kModifierShift : 0);
    EXPECT_TRUE(chord.done(ui));
    EXPECT_EQ(ui.fields[kFieldFind], "Tarn") << "nothing typed";
  }

  // Alt+A returns to All; Alt+N opens the content settings once editing is on.
  UiState ui;
  alt(ui, 'x');
  alt(ui, 'a');
  EXPECT_EQ(ui.extension_filter, ExtensionFilter::Mode::All);
  alt(ui, 'n');
  EXPECT_FALSE(ui.content_panel.open) << "the content-mode button is disabled";
  alt(ui, 'e');
  alt(ui, 'n');
  EXPECT_TRUE(ui.content_panel.open);
}

TEST(AltChords, DisabledControlsAndCoveredScreensIgnoreThem) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(3, 0));
  ui.include_folder_contents = false;
  alt(ui, 'u');
  EXPECT_TRUE(ui.unlimited_depth) << "Unlimited depth is disabled without folder contents";

  ui.include_folder_contents = true;
  ui.unlimited_depth = false;
  ui.fields[kFieldDepth] = "";
  const int starts = workers.starts;
  alt(ui, 'p');
  EXPECT_EQ(workers.starts, starts) << "Preview changes is disabled with an unparsable depth";
  EXPECT_FALSE(ui.status);

  ui.fields[kFieldDepth] = "2";
  alt(ui, 'k');
  ASSERT_TRUE(ui.backups_panel.open);
  alt(ui, 'm');
  EXPECT_TRUE(ui.match_case) << "nothing under an open panel";
  handle_key(ui, key(Key::Escape), kNow);

  alt(ui, 'w');
  ASSERT_TRUE(ui.browser.open);
  EXPECT_FALSE(ui.focused_field);
  dispatch_action(ui, UiAction::FocusField, kFieldBrowserPath, kNow);
  const std::string path = ui.fields[kFieldBrowserPath];
  alt(ui, 'm');
  EXPECT_TRUE(ui.match_case);
  EXPECT_EQ(ui.fields[kFieldBrowserPath], path) << "the browser's field takes no Alt chord as text";
  dispatch_action(ui, UiAction::CloseBrowser, 0, kNow);

  handle_key(ui, letter('m', kModifierAlt | kModifierControl), kNow);
  EXPECT_TRUE(ui.match_case) << "Control+Alt is no chord";

  alt(ui, 'p');
  ASSERT_TRUE(ui.worker.busy());
  alt(ui, 'm');
  EXPECT_TRUE(ui.match_case) << "nothing while a worker runs";
}

std::size_t count_lines(const std::string& dump) {
  std::size_t lines = 0;
  for (std::size_t at = dump.find("\nline "); at != std::string::npos; at = dump.find("\nline ", at + 1)) ++lines;
  return lines;
}

TEST(AltChords, TheirLettersAreUnderlinedWhileAltIsHeld) {
  UiState ui;
  ui.edit_file_contents = true;
  for (const std::size_t mode : {0U, 1U, 2U}) {
    ui.content_mode = kContentModeRows[mode];
    ui.alt_held = false;
    const std::string plain = record_frame(ui, kWindow).dump;
    ui.alt_held = true;
    const std::string underlined = record_frame(ui, kWindow).dump;
    // Every label holds its letter, whatever the content-mode button reads.
    EXPECT_EQ(count_lines(underlined), count_lines(plain) + 12) << "mode row " << mode;
  }
  const std::string frame = record_frame(ui, kWindow).dump;
  EXPECT_TRUE(contains(frame, "line 65 417 72 417 #F3F0EF")) << "the M of Match case";
  EXPECT_TRUE(contains(frame, "line 1000 209 1007 209 #F3F0EF")) << "the w of Browse…";
  EXPECT_TRUE(contains(frame, "line 311 621 318 621 #F3F0EF")) << "the x of Exclude";

  ui.include_folder_contents = false;  // a disabled control keeps its letter, in its own colour
  EXPECT_TRUE(contains(record_frame(ui, kWindow).dump, "line 65 503 72 503 #9B9DAD"));

  ui.backups_panel.open = true;
  EXPECT_EQ(count_lines(record_frame(ui, kWindow).dump), count_lines([&] {
              UiState plain = ui;
              plain.alt_held = false;
              return record_frame(plain, kWindow).dump;
            }()))
      << "no letters under an overlay";
}

// --- the review: Home, End and the scroll bar -------------------------------------

// 30 entries of four lines, three header lines and the empty last one; 12 fit.
constexpr std::uint64_t kLines = 4 * 30 + 4;
constexpr std::int32_t kTrackTop = 426;
constexpr std::int32_t kTrackHeight = 235;

// The y of the drawn thumb's top.
std::int32_t thumb_top(UiState& ui) {
  const std::string dump = record_frame(ui, kWindow).dump;
  const std::string mark = "fill 1071 ";
  std::size_t at = dump.find(mark);
  at = dump.find(mark, at + 1);  // the track first, then the thumb
  return at == std::string::npos ? -1 : std::stoi(dump.substr(at + mark.size()));
}

void press(UiState& ui, std::int32_t x, std::int32_t y) {
  RecordingCanvas canvas;
  canvas.begin_frame();
  draw_frame(canvas, ui, kWindow);
  press_at(ui, hit_test(canvas.hit_regions(), x, y), y, kNow);
}

TEST(ReviewScrolling, TheScrollBarPagesWhereItIsPressedAndFollowsADrag) {
  FakeWorkers workers;
  UiState ui = previewed_state(workers, plan_with(30, 0));
  const std::vector<std::string> regions = record_frame(ui, kWindow).regions;
  EXPECT_NE(std::ranges::find(regions, "1067 426 11 235 a=35 p=0"), regions.end()) << "the track and a margin";
  EXPECT_EQ(ui.review_view.total_lines, kLines);

  press(ui, 1069, kTrackTop + kTrackHeight - 1);  // below the thumb, beside the 3-pixel track
  EXPECT_EQ(ui.review_scroll, 12);
  press(ui, 1072, kTrackTop + kTrackHeight - 1);
  EXPECT_EQ(ui.review_scroll, 24);
  press(ui, 1072, kTrackTop);  // above it
  EXPECT_EQ(ui.review_scroll, 12);
  EXPECT_FALSE(ui.review_drag_grab);

  // Grabbed 5 pixels into the thumb, which then follows the pointer.
  const std::int32_t grabbed = thumb_top(ui) + 5;
  press(ui, 1072, grabbed);
  ASSERT_EQ(ui.review_drag_grab, 5);
  for (const std::int32_t top : {kTrackTop + 100, kTrackTop + 7, kTrackTop + 180}) {
    drag_review_scroll_bar(ui, top + 5);
    EXPECT_NEAR(thumb_top(ui), top, 1);
  }
  drag_review_scroll_bar(ui, kTrackTop + 1000);
  EXPECT_EQ(ui.review_scroll, static_cast<std::int64_t>(kLines - 12)) << "held at the end";
  drag_review_scroll_bar(ui, -1000);
  EXPECT_EQ(ui.review_scroll, 0);
  end_review_drag(ui);
  drag_review_scroll_bar(ui, kTrackTop + 100);
  EXPECT_EQ(ui.review_scroll, 0) << "released";

  // End goes to the last page drawn; a focused field's End moves its cursor.
  handle_key(ui, key(Key::End), kNow);
  EXPECT_EQ(ui.review_scroll, static_cast<std::int64_t>(kLines - 12));
  focus_field(ui, kFieldFind);
  handle_key(ui, key(Key::Home), kNow);
  EXPECT_EQ(ui.review_scroll, static_cast<std::int64_t>(kLines - 12));

  dispatch_action(ui, UiAction::PreviewChanges, 0, kNow);
  ASSERT_TRUE(ui.worker.busy());
  const std::vector<std::string> busy = record_frame(ui, kWindow).regions;
  EXPECT_EQ(std::ranges::find(busy, "1067 426 11 235 a=35 p=0"), busy.end()) << "no scroll bar to press while working";
}

}  // namespace
}  // namespace tarnwick
