// The main screen as the event loop sees it: frames, clicks, keys, the
// clipboard and drops, the worker poll and the close guard.
#include <chrono>
#include <memory>
#include <utility>

#include "native_linux/ui/keyboard.h"
#include "native_linux/ui/screen_host.h"
#include "native_linux/ui/screen_layout.h"

namespace tarnwick {
namespace {

constexpr std::int64_t kWheelLines = 3;

std::int64_t monotonic_milliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class MainScreen final : public Screen {
 public:
  explicit MainScreen(std::optional<std::string> start_target) {
    if (start_target) set_field_text(ui_, kFieldTarget, std::move(*start_target));
  }

  void attach(DesktopServices& desktop) override { desktop_ = &desktop; }
  void detach() override { desktop_ = nullptr; }

  void draw(Canvas& canvas, Size window_size) override {
    window_ = window_size;
    draw_frame(canvas, ui_, window_size);
  }

  void handle_click(const ClickInput& click) override {
    const std::int64_t now = monotonic_milliseconds();
    if (click.button != PointerButton::Primary) {
      scroll_at(ui_, window_, click.x, click.y, click.button == PointerButton::WheelUp ? -kWheelLines : kWheelLines);
      return;
    }
    press_at(ui_, click.region, click.y, now);
    flush_effects();
  }

  void handle_pointer_drag(std::int32_t x, std::int32_t y) override {
    (void)x;
    drag_review_scroll_bar(ui_, y);
  }

  void handle_pointer_release() override { end_review_drag(ui_); }

  void handle_alt(bool held) override { ui_.alt_held = held; }

  void handle_key(const DecodedKey& key) override {
    tarnwick::handle_key(ui_, key, monotonic_milliseconds());
    flush_effects();
  }

  std::string_view clipboard_text() const override { return ui_.clipboard_text; }

  void handle_paste(std::optional<std::string> text) override {
    if (text) {
      accept_pasted_text(ui_, *text);
    } else {
      ui_.pending_paste.reset();  // paste failures are silent
    }
  }

  void handle_pasted_path(Result<std::string> path) override { accept_pasted_path(ui_, std::move(path)); }

  bool accepts_drop() const override { return drop_allowed(ui_); }

  void handle_drop(Result<std::string> path) override {
    if (path) {
      accept_dropped_path(ui_, std::move(*path));
    } else {
      set_status(ui_, StatusSeverity::Stopped, std::move(path.error()));
    }
  }

  // The worker's event, or else its progress as the frame shows it.
  bool poll_worker() override {
    if (tarnwick::poll_worker(ui_)) return true;
    return refresh_progress(ui_, monotonic_milliseconds());
  }

  bool long_operation_running() const override { return tarnwick::long_operation_running(ui_); }

  bool request_close() override { return allow_close(ui_); }
  bool close_ready() const override { return tarnwick::close_ready(ui_); }

 private:
  // The desktop side of what a key or click asked for.
  void flush_effects() {
    if (std::exchange(ui_.clipboard_claim_pending, false) && desktop_ != nullptr) desktop_->claim_clipboard();
    if (std::exchange(ui_.paste_request_pending, false)) {
      if (desktop_ != nullptr && ui_.pending_paste) {
        desktop_->request_paste(is_path_field(ui_.pending_paste->field) ? PasteInto::PathField : PasteInto::TextField);
      } else {
        ui_.pending_paste.reset();
      }
    }
  }

  UiState ui_;
  DesktopServices* desktop_ = nullptr;
  Size window_{1100, 810};
};

}  // namespace

std::unique_ptr<Screen> make_main_screen(std::optional<std::string> start_target) {
  return std::make_unique<MainScreen>(std::move(start_target));
}

}  // namespace tarnwick
