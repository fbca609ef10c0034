// The header-and-footer screen: what the window shows when no richer screen is built in.
#include "native_linux/foundation_screen.h"

#include "native_linux/main_chrome.h"

namespace tarnwick {

namespace {

class FoundationScreen final : public Screen {
 public:
  void draw(Canvas& canvas, Size window_size) override {
    draw_main_header(canvas, window_size);
    draw_main_footer(canvas, window_size);
  }
  void handle_click(const ClickInput&) override {}
  void handle_key(const KeyInput&) override {}
  bool poll_worker() override { return false; }
  bool long_operation_running() const override { return false; }
  bool request_close() override { return true; }
};

}  // namespace

std::unique_ptr<Screen> make_foundation_screen() { return std::make_unique<FoundationScreen>(); }

}  // namespace tarnwick
