// The main screen as the event loop sees it: frames, clicks, keys, the
// clipboard and drops, the worker poll and the close guard.
#include <chrono>
#include <memory>

#include "common/text.h"
#include "native_linux/clipboard.h"
#include "native_linux/drop_receiver.h"
#include "native_linux/keyboard.h"
#include "native_linux/screen_host.h"
#include "native_linux/screen_layout.h"

namespace tarnwick {
namespace {

constexpr std::int64_t kWheelLines = 3;
constexpr unsigned kWheelUp = 4;
constexpr unsigned kWheelDown = 5;

std::int64_t monotonic_milliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

class MainScreen final : public Screen {
 public:
  void attach(const WindowContext& context) override {
    context_ = context;
    atoms_ = intern_clipboard_atoms(context.display);
    drop_.attach(context.display, context.window);
  }
  void detach() override { context_ = WindowContext{}; }

  void draw(Canvas& canvas, Size window_size) override {
    window_ = window_size;
    draw_frame(canvas, ui_, window_size);
  }

  void handle_click(const ClickInput& click) override {
    const std::int64_t now = monotonic_milliseconds();
    if (click.button == kWheelUp || click.button == kWheelDown) {
      scroll_at(ui_, window_, click.x, click.y, click.button == kWheelUp ? -kWheelLines : kWheelLines);
      return;
    }
    press_at(ui_, click.region, now);
    flush_effects();
  }

  void handle_key(const KeyInput& input) override {
    DecodedKey key{static_cast<std::uint32_t>(input.keysym),
                   input.state & (ShiftMask | ControlMask | Mod1Mask), lossy_utf8(input.text)};
    tarnwick::handle_key(ui_, key, monotonic_milliseconds());
    flush_effects();
  }

  void handle_x_event(const XEvent& event) override {
    if (context_.display == nullptr) return;
    switch (event.type) {
      case SelectionRequest:
        answer_selection_request(context_.display, event.xselectionrequest, atoms_, ui_.clipboard_text);
        return;
      case SelectionNotify:
        on_selection_notify(event.xselection);
        return;
      case ClientMessage: {
        XClientMessageEvent message = event.xclient;
        drop_.handle_client_message(message, ui_);
        return;
      }
      default:
        return;
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
  void on_selection_notify(const XSelectionEvent& event) {
    if (drop_.handle_selection_notify(event, ui_)) return;
    if (event.selection != atoms_.clipboard) return;
    if (event.property != atoms_.paste_property) {
      ui_.pending_paste.reset();  // the owner refused: paste failures are silent
      return;
    }
    const std::optional<std::string> text = read_pasted_text(context_.display, context_.window, atoms_);
    if (text) {
      accept_pasted_text(ui_, *text);
    } else {
      ui_.pending_paste.reset();
    }
  }

  // The X side of what a key or click asked for.
  void flush_effects() {
    const bool attached = context_.display != nullptr;
    if (std::exchange(ui_.clipboard_claim_pending, false) && attached) {
      claim_clipboard(context_.display, context_.window, atoms_);
    }
    if (std::exchange(ui_.paste_request_pending, false)) {
      if (attached) {
        request_paste(context_.display, context_.window, atoms_);
      } else {
        ui_.pending_paste.reset();
      }
    }
  }

  UiState ui_;
  WindowContext context_;
  ClipboardAtoms atoms_;
  DropReceiver drop_;
  Size window_{1100, 810};
};

}  // namespace

std::unique_ptr<Screen> make_main_screen() { return std::make_unique<MainScreen>(); }

}  // namespace tarnwick
