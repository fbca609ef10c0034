// The progress of a running worker on the screen: the numbers in its line,
// the line of each kind and phase, its frames at the smallest and a large
// window, Cancel and Escape in each state, the cancelled results, and a close
// during cancellable work.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "ui_state_support.h"

namespace tarnwick {
namespace {

using testing::FakeWorkers;
using testing::key;
using testing::plan_with;
using testing::previewed_state;
using testing::record_frame;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

TEST(ProgressNumbers, CountsSizesAndElapsedTime) {
  EXPECT_EQ(format_count(0), "0");
  EXPECT_EQ(format_count(999), "999");
  EXPECT_EQ(format_count(1000), "1,000");
  EXPECT_EQ(format_count(12'480), "12,480");
  EXPECT_EQ(format_count(1'234'567), "1,234,567");
  EXPECT_EQ(format_count(UINT64_MAX), "18,446,744,073,709,551,615");

  EXPECT_EQ(format_size(0), "0 B");
  EXPECT_EQ(format_size(972), "972 B");
  EXPECT_EQ(format_size(1023), "1023 B");
  EXPECT_EQ(format_size(1024), "1.0 KiB");
  EXPECT_EQ(format_size(1536), "1.5 KiB");
  EXPECT_EQ(format_size(kMiB - 1), "1.0 MiB") << "never 1024.0 KiB";
  EXPECT_EQ(format_size(kGiB + kGiB / 5), "1.2 GiB");
  EXPECT_EQ(format_size(1023 * kGiB + kGiB / 2 - 1), "1023.5 GiB");
  EXPECT_EQ(format_size(UINT64_MAX), "16777216.0 TiB") << "no overflow at the top";
  EXPECT_EQ(format_size_pair(kGiB + kGiB / 5, 3 * kGiB + 2 * kGiB / 5), "1.2 of 3.4 GiB");
  EXPECT_EQ(format_size_pair(300 * 1024, 3 * kGiB), "0.0 of 3.0 GiB") << "both in the total's unit";
  EXPECT_EQ(format_size_pair(10, 700), "10 of 700 B");

  EXPECT_EQ(format_elapsed(0), "0:00");
  EXPECT_EQ(format_elapsed(7), "0:07");
  EXPECT_EQ(format_elapsed(754), "12:34");
  EXPECT_EQ(format_elapsed(3723), "1:02:03");
  EXPECT_EQ(format_elapsed(-5), "0:00");
}

TEST(ProgressLine, EachWorkerAndPhase) {
  WorkerControl control;
  control.preview.entries_scanned.set(12'345);
  control.preview.matches_found.set(67);
  EXPECT_EQ(read_progress(WorkerKind::Preview, &control, 0).line, "Previewing: 12,345 entries \u00B7 67 matches")
      << "no bytes read without contents";
  control.preview.content_bytes_read.set(kGiB + kGiB / 5);
  ProgressView view = read_progress(WorkerKind::Preview, &control, 3);
  EXPECT_EQ(view.line, "Previewing: 12,345 entries \u00B7 67 matches \u00B7 1.2 GiB read");
  EXPECT_FALSE(view.bar_permille) << "a walk has no total";
  EXPECT_EQ(view.cancel, CancelOffer::Offered);
  EXPECT_EQ(view.elapsed_seconds, 3);

  BackupProgress& backup = control.backup;
  EXPECT_EQ(read_progress(WorkerKind::Backup, &control, 0).line, "Backing up: recording the target\u2026");
  backup.stage = BackupStage::Copying;
  backup.files_total.set(50'000);
  backup.bytes_total.set(3 * kGiB + 2 * kGiB / 5);
  backup.files_copied.set(12'480);
  backup.bytes_copied.set(kGiB + kGiB / 5);
  view = read_progress(WorkerKind::Backup, &control, 0);
  EXPECT_EQ(view.line, "Backing up: 12,480 of 50,000 files \u00B7 1.2 of 3.4 GiB");
  EXPECT_EQ(view.bar_permille, 352) << "the bar follows the bytes";
  backup.stage = BackupStage::Verifying;
  backup.files_verified.set(50'000);
  backup.bytes_verified.set(3 * kGiB + 2 * kGiB / 5);
  view = read_progress(WorkerKind::Backup, &control, 0);
  EXPECT_EQ(view.line, "Verifying backup: 50,000 of 50,000 files \u00B7 3.4 of 3.4 GiB");
  EXPECT_EQ(view.bar_permille, 1000);
  backup.stage = BackupStage::RemovingIncomplete;
  EXPECT_EQ(read_progress(WorkerKind::Backup, &control, 0).line, "Removing the incomplete backup\u2026");

  control.apply.begin(ApplyPhase::Verifying, 4'989);
  for (int i = 0; i < 880; ++i) control.apply.advance();
  view = read_progress(WorkerKind::Apply, &control, 0);
  EXPECT_EQ(view.line, "Verifying: 880 of 4,989");
  EXPECT_EQ(view.bar_permille, 176);
  control.apply.begin(ApplyPhase::BackingUp, 0);
  EXPECT_EQ(read_progress(WorkerKind::Apply, &control, 0).line, "Removing the incomplete backup\u2026")
      << "the apply's backup reads the backup's counts";
  ASSERT_TRUE(control.stop_accepting_cancel());
  control.apply.begin(ApplyPhase::Renaming, 4'989);
  view = read_progress(WorkerKind::Apply, &control, 0);
  EXPECT_EQ(view.line, "Renaming: 0 of 4,989");
  EXPECT_EQ(view.bar_permille, 0);
  EXPECT_EQ(view.cancel, CancelOffer::Refused);
  control.apply.begin(ApplyPhase::CleaningUp, 0);
  view = read_progress(WorkerKind::Apply, &control, 0);
  EXPECT_EQ(view.line, "Cleaning up\u2026");
  EXPECT_FALSE(view.bar_permille);

  // A rollback is never offered a cancel, whatever the control says.
  WorkerControl early;
  early.apply.begin(ApplyPhase::RollingBack, 10);
  EXPECT_EQ(read_progress(WorkerKind::Apply, &early, 0).cancel, CancelOffer::Refused);
  // Recover has no counts and no cancel.
  view = read_progress(WorkerKind::Recover, &early, 9);
  EXPECT_EQ(view, (ProgressView{.line = {}, .bar_permille = {}, .cancel = CancelOffer::NotOffered,
                                .elapsed_seconds = 9}));
}

// One text of a recorded frame: "text x baseline font #colour \"text\"".
struct DrawnText {
  std::int32_t x = 0;
  std::int32_t baseline = 0;
  std::string font;
  std::string text;
};

std::vector<DrawnText> drawn_texts(const std::string& dump) {
  std::vector<DrawnText> texts;
  std::istringstream lines(dump);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("text ")) continue;
    std::istringstream fields(line.substr(5));
    DrawnText drawn;
    fields >> drawn.x >> drawn.baseline >> drawn.font;
    const std::size_t open = line.find('"');
    drawn.text = line.substr(open + 1, line.size() - open - 2);
    texts.push_back(std::move(drawn));
  }
  return texts;
}

// Every text of the block ends inside the pane and clear of Cancel.
void expect_block_fits(const std::string& dump, Size window, bool with_cancel) {
  const ProgressLayout layout = progress_layout(main_layout(window));
  for (const DrawnText& drawn : drawn_texts(dump)) {
    // The options column's buttons share the rows; Cancel's own label lies inside it.
    if (drawn.baseline < window.height - 130 || drawn.baseline > window.height - 48) continue;
    if (drawn.x < layout.line.x || drawn.text == "Cancel") continue;
    const std::int32_t advance = RecordingCanvas::advance_of(drawn.font == "Mono13" ? FontRole::Mono13 : FontRole::Mono11);
    const auto width = static_cast<std::int32_t>(count_code_points(drawn.text)) * advance;
    EXPECT_LE(drawn.x + width, layout.line.x + layout.line.width) << window.width << ": " << drawn.text;
    const bool beside_cancel =
        drawn.baseline > layout.cancel.y && drawn.baseline <= layout.cancel.y + layout.cancel.height;
    if (with_cancel && beside_cancel) {
      EXPECT_GE(drawn.x, layout.cancel.x + layout.cancel.width) << drawn.text;
    }
  }
}

bool has_region(const testing::RecordedFrame& frame, UiAction action) {
  const std::string needle = " a=" + std::to_string(static_cast<int>(action)) + " ";
  return std::ranges::any_of(frame.regions, [&](const std::string& r) { return testing::contains(r, needle); });
}

TEST(ProgressFrame, LineBarAndCancelAtTheSmallestAndALargeWindow) {
  for (const Size window : {Size{850, 680}, Size{1600, 1000}}) {
    SCOPED_TRACE(window.width);
    const ProgressLayout layout = progress_layout(main_layout(window));
    FakeWorkers workers;
    UiState ui = previewed_state(workers, plan_with(3, 0));
    ui.back_up_before_apply = true;
    ui.fields[kFieldBackupDestination] = "/b";
    dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
    dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
    ASSERT_TRUE(ui.worker.apply_running);
    WorkerControl& control = *ui.worker.control;

    // Backing up, a quarter of the bytes copied, 42 seconds in.
    ASSERT_FALSE(refresh_progress(ui, 5000)) << "the first pass only starts the clock";
    control.apply.begin(ApplyPhase::BackingUp, 0);
    control.backup.stage = BackupStage::Copying;
    control.backup.files_total.set(50'000);
    control.backup.bytes_total.set(4 * kGiB);
    control.backup.files_copied.set(12'480);
    control.backup.bytes_copied.set(kGiB);
    ASSERT_TRUE(refresh_progress(ui, 47'000));
    EXPECT_FALSE(refresh_progress(ui, 47'400)) << "nothing shown changed: no redraw";
    testing::RecordedFrame frame = record_frame(ui, window);
    const std::string line_x = std::to_string(layout.line.x);
    const std::string line_baseline = std::to_string(layout.line.y + 15);
    EXPECT_TRUE(testing::contains(frame.dump, "text " + line_x + " " + line_baseline +
                                                  " Mono13 #F3F0EF \"Backing up: 12,480 of 50,000 files \u00B7 "
                                                  "1.0 of 4.0 GiB\""))
        << frame.dump;
    const Rect& bar = layout.bar;
    EXPECT_TRUE(testing::contains(frame.dump, "fill " + std::to_string(bar.x) + " " + std::to_string(bar.y) + " " +
                                                  std::to_string(bar.width) + " 4 #30323D\nfill " +
                                                  std::to_string(bar.x) + " " + std::to_string(bar.y) + " " +
                                                  std::to_string(bar.width / 4) + " 4 #D72B42"));
    EXPECT_EQ(frame.regions, std::vector<std::string>{std::to_string(layout.cancel.x) + " " +
                                                      std::to_string(layout.cancel.y) + " 104 33 a=37 p=0"});
    EXPECT_TRUE(testing::contains(frame.dump, "\"Your files are unchanged. Escape also cancels.\""));
    EXPECT_TRUE(testing::contains(frame.dump, "\"Elapsed 0:42\""));
    EXPECT_FALSE(testing::contains(frame.dump, "\"Apply reviewed changes\"")) << "the block stands in its place";
    expect_block_fits(frame.dump, window, true);

    // Renaming: Cancel is gone and the pane says why.
    ASSERT_TRUE(control.stop_accepting_cancel());
    control.apply.begin(ApplyPhase::Renaming, 4'989);
    for (int i = 0; i < 4'989; ++i) control.apply.advance();
    ASSERT_TRUE(refresh_progress(ui, 48'000));
    frame = record_frame(ui, window);
    EXPECT_TRUE(testing::contains(frame.dump, "\"Renaming: 4,989 of 4,989\""));
    EXPECT_TRUE(testing::contains(frame.dump, std::to_string(bar.width) + " 4 #D72B42")) << "a full bar";
    EXPECT_TRUE(frame.regions.empty());
    EXPECT_TRUE(testing::contains(frame.dump, "text " + line_x + " " + std::to_string(layout.note_baseline) +
                                                  " Mono11 #9B9DAD \"Cancel is no longer possible: files are being "
                                                  "changed.\""));
    expect_block_fits(frame.dump, window, false);

    // The longest backup line still fits, in the smaller face where it must.
    control.apply.begin(ApplyPhase::BackingUp, 0);
    control.backup.stage = BackupStage::Verifying;
    control.backup.files_verified.set(50'000);
    control.backup.bytes_total.set(1023 * kGiB);
    control.backup.bytes_verified.set(1023 * kGiB);
    ASSERT_TRUE(refresh_progress(ui, 49'000));
    expect_block_fits(record_frame(ui, window).dump, window, false);
  }
}

// A worker of each cancellable kind, started through the screen.
enum class Started { Preview, Backup, Apply };

UiState started(FakeWorkers& workers, Started kind) {
  UiState ui = previewed_state(workers, plan_with(3, 0));
  ui.fields[kFieldBackupDestination] = "/b";
  switch (kind) {
    case Started::Preview:
      dispatch_action(ui, UiAction::PreviewChanges, 0, 0);
      break;
    case Started::Backup:
      dispatch_action(ui, UiAction::OpenBackupsPanel, 0, 0);
      dispatch_action(ui, UiAction::BackUpNow, 0, 1000);
      break;
    case Started::Apply:
      dispatch_action(ui, UiAction::ApplyReviewedChanges, 0, 0);
      dispatch_action(ui, UiAction::ConfirmApply, 0, 1000);
      break;
  }
  EXPECT_TRUE(ui.worker.busy());
  refresh_progress(ui, 2000);
  return ui;
}

TEST(CancelWork, EscapeAndTheButtonAskEachCancellableWorkerToStop) {
  for (const Started kind : {Started::Preview, Started::Backup, Started::Apply}) {
    for (const bool by_escape : {true, false}) {
      SCOPED_TRACE(static_cast<int>(kind) * 2 + by_escape);
      FakeWorkers workers;
      UiState ui = started(workers, kind);
      // Escape works whatever is focused or open.
      if (kind == Started::Preview) ui.focused_field = kFieldFind;
      ASSERT_EQ(ui.worker.progress.cancel, CancelOffer::Offered);
      if (by_escape) {
        handle_key(ui, key(Key::Escape), 3000);
      } else {
        press_at(ui, HitRegion{Rect{}, static_cast<ActionCode>(UiAction::CancelWork), 0}, 0, 3000);
      }
      EXPECT_EQ(ui.worker.control->cancel_state(), CancelState::Requested);
      EXPECT_TRUE(ui.worker.busy()) << "the worker's event ends it";
      const testing::RecordedFrame frame = record_frame(ui, Size{1100, 810});
      if (kind == Started::Backup) {
        EXPECT_TRUE(testing::contains(frame.dump, "\"Cancelling\u2026\"")) << "the panel's button";
      } else {
        EXPECT_TRUE(testing::contains(frame.dump, "#E6B66C \"Cancelling\u2026 waiting for the work to stop.\""));
      }
      EXPECT_TRUE(frame.regions.empty()) << "Cancel is not offered twice";
    }
  }
}

TEST(CancelWork, NotOfferedOnceTheApplyChangesFilesNorForRecover) {
  FakeWorkers workers;
  UiState ui = started(workers, Started::Apply);
  ASSERT_TRUE(ui.worker.control->stop_accepting_cancel());
  ASSERT_TRUE(refresh_progress(ui, 2100));
  EXPECT_EQ(ui.worker.progress.cancel, CancelOffer::Refused);
  handle_key(ui, key(Key::Escape), 3000);
  dispatch_action(ui, UiAction::CancelWork, 0, 3000);
  EXPECT_EQ(ui.worker.control->cancel_state(), CancelState::NoLongerPossible);
  EXPECT_FALSE(has_region(record_frame(ui, Size{1100, 810}), UiAction::CancelWork));

  // The apply went past its first change between the frame and the press:
  // the press is refused and the pane says so at once.
  FakeWorkers racing;
  ui = started(racing, Started::Apply);
  ui.worker.control->stop_accepting_cancel();
  handle_key(ui, key(Key::Escape), 3000);
  EXPECT_EQ(ui.worker.progress.cancel, CancelOffer::Refused);

  FakeWorkers recovering;
  ui = UiState{};
  ui.spawn = recovering.spawner();
  ui.interrupted_apply_journal = "/t/.tarnwick-journal";
  start_recover(ui);
  ASSERT_TRUE(ui.worker.busy());
  refresh_progress(ui, 0);
  handle_key(ui, key(Key::Escape), 3000);
  const testing::RecordedFrame frame = record_frame(ui, Size{1100, 810});
  EXPECT_FALSE(has_region(frame, UiAction::CancelWork));
  EXPECT_TRUE(testing::contains(frame.dump, "\"Elapsed 0:00\""));
}

TEST(CancelWork, CancelledResultsAreNoticesAndAnApplyKeepsItsPreview) {
  FakeWorkers workers;
  UiState ui = started(workers, Started::Preview);
  workers.finish(PreviewFinished{build_request(ui), fail(std::string(kPreviewCancelled)), std::nullopt, true});
  ASSERT_TRUE(poll_worker(ui));
  EXPECT_EQ(compose_review_text(ui), "NOTICE\nPreview cancelled.\n\n");
  EXPECT_FALSE(ui.preview);

  ui = started(workers, Started::Backup);
  workers.finish(BackupFinished{fail(std::string(kBackupCancelled)), true});
  poll_worker(ui);
  EXPECT_EQ(compose_backups_status(ui).text, "Backup cancelled.");
  EXPECT_FALSE(compose_backups_status(ui).stopped);
  EXPECT_TRUE(ui.preview) << "a backup leaves the preview alone";

  ui = started(workers, Started::Apply);
  ASSERT_FALSE(ui.preview);
  workers.finish(ApplyFinished{fail(std::string(kApplyCancelled)), false, plan_with(3, 0), true});
  poll_worker(ui);
  EXPECT_TRUE(compose_review_text(ui).starts_with(
      "NOTICE\nApply cancelled before any change. Your preview is still available.\n\n3 renames"));
  EXPECT_TRUE(compose_confirmation_text(ui).has_value()) << "the same preview may be applied again";
}

TEST(CloseGuard, DuringCancellableWorkTheCloseCancelsAndWaitsForTheEvent) {
  for (const Started kind : {Started::Backup, Started::Apply}) {
    FakeWorkers workers;
    UiState ui = started(workers, kind);
    EXPECT_FALSE(allow_close(ui));
    EXPECT_EQ(ui.worker.control->cancel_state(), CancelState::Requested);
    EXPECT_EQ(ui.status->message, "Cancelling\u2026 The window closes once the work has stopped.");
    EXPECT_FALSE(close_ready(ui)) << "the worker still removes what it made";
    EXPECT_FALSE(allow_close(ui)) << "a second close waits as well";
    if (kind == Started::Backup) {
      workers.finish(BackupFinished{fail(std::string(kBackupCancelled)), true});
    } else {
      workers.finish(ApplyFinished{fail(std::string(kApplyCancelled)), false, plan_with(3, 0), true});
    }
    poll_worker(ui);
    EXPECT_TRUE(close_ready(ui));
  }
  // A preview changes nothing and holds nothing open: it is told to stop and the window closes.
  FakeWorkers workers;
  UiState ui = started(workers, Started::Preview);
  EXPECT_TRUE(allow_close(ui));
  EXPECT_EQ(ui.worker.control->cancel_state(), CancelState::Requested);
}

}  // namespace
}  // namespace tarnwick
