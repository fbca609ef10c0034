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
    press_at(ui_, click.region, now);
    flush_effects();
  }

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

  bool accepts_drop() const override { return drop_allowed(ui_); }

  void handle_drop(Result<std::string> path) override {
    if (path) {
      accept_dropped_path(ui_, std::move(*path));
    } else {
      set_status(ui_, StatusSeverity::Stopped, std::move(path.error()));
    }
  }

  bool poll_worker() override { return tarnwick::poll_worker(ui_); }

  bool long_operation_running() const override {
    return ui_.worker.apply_running || ui_.worker.backup_running;
  }

  bool request_close() override {
    if (!long_operation_running()) return true;
    set_status(ui_, StatusSeverity::Stopped, "An operation is still running. Wait for it to finish before closing.");
    return false;
  }

 private:
  // The desktop side of what a key or click asked for.
  void flush_effects() {
    if (std::exchange(ui_.clipboard_claim_pending, false) && desktop_ != nullptr) desktop_->claim_clipboard();
    if (std::exchange(ui_.paste_request_pending, false)) {
      if (desktop_ != nullptr) {
        desktop_->request_paste();
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
