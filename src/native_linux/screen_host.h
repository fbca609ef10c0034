// The seam between the window's event loop and the screen logic it hosts.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "native_linux/canvas.h"

namespace tarnwick {

// What the screen may use of the window: only on the UI thread, only while attached.
struct WindowContext {
  Display* display = nullptr;
  Window window = 0;
  bool has_input_context = false;
};

// A key press as decoded by the loop: Xutf8LookupString through the input context,
// or XLookupString without one, into a 512-byte buffer.
struct KeyInput {
  KeySym keysym = NoSymbol;
  unsigned int state = 0;  // modifier mask of the event
  std::string text;        // UTF-8 (or Latin-1 bytes from XLookupString), possibly empty
  Time time = CurrentTime;
};

struct ClickInput {
  std::int32_t x = 0;
  std::int32_t y = 0;
  unsigned int button = 0;  // 1, 4 or 5; other buttons are not delivered
  Time time = CurrentTime;
  // The region of the last drawn frame under the pointer (button 1 only).
  std::optional<HitRegion> region;
};

// The screen the loop drives. Every handler call is followed by a redraw; the
// screen can also ask for one through poll_worker's result.
class Screen {
 public:
  virtual ~Screen() = default;

  // Once, after the window exists and before the first frame.
  virtual void attach(const WindowContext& context) { (void)context; }
  // Just before shut-down, while the display is still open.
  virtual void detach() {}

  // The whole frame; the canvas already had begin_frame(). Overlays call
  // canvas.begin_overlay() before drawing themselves.
  virtual void draw(Canvas& canvas, Size window_size) = 0;

  virtual void handle_click(const ClickInput& click) = 0;
  virtual void handle_key(const KeyInput& key) = 0;
  // Events the loop does not handle itself: SelectionRequest, SelectionNotify,
  // ClientMessage other than WM_DELETE_WINDOW (XDND), PropertyNotify and the rest.
  virtual void handle_x_event(const XEvent& event) { (void)event; }

  // Takes at most one worker message without blocking; true when the screen changed.
  virtual bool poll_worker() = 0;
  // True while an apply or a backup runs (not a preview).
  virtual bool long_operation_running() const = 0;
  // The close guard: false keeps the window open (the screen shows why).
  virtual bool request_close() = 0;
};

// The main screen, the one the program shows.
std::unique_ptr<Screen> make_main_screen();

}  // namespace tarnwick
