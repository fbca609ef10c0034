// Time to compose and draw one full 1100 x 810 frame showing a page of 100
// preview entries with their notices (argument 0), or a backup's progress
// read from its control with the Backups panel open (argument 1): on the
// recording canvas, and on the X11 surface (skipped without DISPLAY).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "native_linux/ui/screen_layout.h"
#include "native_linux/x11/drawing_surface.h"

namespace tarnwick {
namespace {

constexpr Size kWindow{1100, 810};

UiState previewed_state() {
  PreviewPlan plan;
  for (int i = 0; i < 250; ++i) {
    ChangeEntry entry;
    entry.original_path = "/home/user/projects/Tarn/assets/textures/Tarn_" + std::to_string(i) + ".txt";
    entry.final_path = "/home/user/projects/Tarnwick/assets/textures/Tarnwick_" + std::to_string(i) + ".txt";
    entry.name_changes = true;
    entry.content_changes = i % 3 == 0;
    entry.literal_count = 2;
    plan.changes.push_back(std::move(entry));
  }
  for (int i = 0; i < 120; ++i) {
    plan.notices.push_back("Skipped an archive that cannot be edited safely: /home/user/projects/Tarn/archive_" +
                           std::to_string(i) + ".zip");
  }
  plan.items_scanned = 400;
  UiState ui;
  ui.fields[kFieldTarget] = "/home/user/projects/Tarn";
  ui.request_snapshot = build_request(ui);
  ui.items_scanned = plan.items_scanned;
  ui.preview = std::move(plan);
  ui.review_scroll = 120;
  return ui;
}

// A backup-only running from the previewed state, its progress read each pass
// as the loop does; the sender keeps its channel open.
struct WorkingState {
  UiState ui = previewed_state();
  EventSender sender;
  std::int64_t now_ms = 0;

  WorkingState() {
    auto [channel_sender, receiver] = make_channel<WorkerEvent>();
    sender = std::move(channel_sender);
    ui.worker.receiver = std::move(receiver);
    ui.worker.kind = WorkerKind::Backup;
    ui.worker.backup_running = true;
    ui.worker.control = std::make_shared<WorkerControl>();
    BackupProgress& backup = ui.worker.control->backup;
    backup.stage = BackupStage::Copying;
    backup.files_total.set(50'000);
    backup.bytes_total.set(std::uint64_t{3} << 30);
    ui.backups_panel.open = true;
  }
  // One pass's reading: the counts move on every pass.
  void advance() {
    BackupProgress& backup = ui.worker.control->backup;
    backup.files_copied.add(7);
    backup.bytes_copied.add(1 << 20);
    now_ms += 25;
    refresh_progress(ui, now_ms);
  }
};

void BM_FrameOnRecordingCanvas(benchmark::State& state) {
  WorkingState working;
  const bool progress = state.range(0) == 1;
  if (!progress) working.ui = previewed_state();
  UiState& ui = working.ui;
  RecordingCanvas canvas;
  for (auto _ : state) {
    if (progress) working.advance();
    canvas.clear();
    canvas.begin_frame();
    draw_frame(canvas, ui, kWindow);
    benchmark::DoNotOptimize(canvas.primitives().size());
  }
}
BENCHMARK(BM_FrameOnRecordingCanvas)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_FrameOnX11Surface(benchmark::State& state) {
  // As in the program: protocol errors are not fatal.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  Display* display = std::getenv("DISPLAY") ? XOpenDisplay(nullptr) : nullptr;
  if (display == nullptr) {
    state.SkipWithError("no X display (run under Xvfb)");
    return;
  }
  const int screen = DefaultScreen(display);
  const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, kWindow.width,
                                            kWindow.height, 0, 0, 0x0A0B0E);
  XMapWindow(display, window);
  FontFaces faces;
  const SurfaceTarget target{display, window, DefaultVisual(display, screen), DefaultColormap(display, screen),
                             DefaultDepth(display, screen)};
  const Result<void> loaded = faces.load();
  Result<std::unique_ptr<DrawingSurface>> surface =
      loaded ? DrawingSurface::create(target, faces, kWindow) : fail(loaded.error());
  if (!surface) {
    state.SkipWithError(surface.error().c_str());
    XCloseDisplay(display);
    return;
  }
  WorkingState working;
  const bool progress = state.range(0) == 1;
  if (!progress) working.ui = previewed_state();
  UiState& ui = working.ui;
  for (auto _ : state) {
    if (progress) working.advance();
    (*surface)->begin_frame();
    draw_frame(**surface, ui, kWindow);
    (*surface)->clear_text_clip();
    (*surface)->present();
    XSync(display, False);  // count the server's work too
  }
  surface->reset();
  XDestroyWindow(display, window);
  XCloseDisplay(display);
}
BENCHMARK(BM_FrameOnX11Surface)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarnwick

BENCHMARK_MAIN();
