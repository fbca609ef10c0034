// The seam between the desktop's event loop and the screen it hosts, in the
// program's own terms: keys, clicks, pasted text and dropped paths come in; the
// screen asks the desktop for the clipboard through DesktopServices.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"
#include "native_linux/ui/canvas.h"
#include "native_linux/ui/keyboard.h"

namespace tarnwick {

// What a paste goes into: a path field takes copied files as their path.
enum class PasteInto : std::uint8_t { TextField, PathField };

// What the screen may ask of the desktop: only on the UI thread, only while attached.
class DesktopServices {
 public:
  virtual ~DesktopServices() = default;

  // An input method composes keys (dead keys, other scripts) before they arrive.
  virtual bool has_input_method() const = 0;
  // Takes the CLIPBOARD; other programs then get the screen's clipboard_text().
  virtual void claim_clipboard() = 0;
  // Asks the CLIPBOARD's owner for its text; it arrives through handle_paste.
  // For a path field a file manager's list of copied files is asked for first,
  // and a path it names (or why it names none) arrives through handle_pasted_path.
  virtual void request_paste(PasteInto into) = 0;
};

enum class PointerButton : std::uint8_t { Primary, WheelUp, WheelDown };

struct ClickInput {
  std::int32_t x = 0;
  std::int32_t y = 0;
  PointerButton button = PointerButton::Primary;
  // The region of the last drawn frame under the pointer (primary button only).
  std::optional<HitRegion> region;
};

// The screen the loop drives. Every handler call is followed by a redraw; the
// screen can also ask for one through poll_worker's result.
class Screen {
 public:
  virtual ~Screen() = default;

  // Once, after the window exists and before the first frame.
  virtual void attach(DesktopServices& desktop) { (void)desktop; }
  // Just before shut-down, while the desktop is still there.
  virtual void detach() {}

  // The whole frame; the canvas already had begin_frame(). Overlays call
  // canvas.begin_overlay() before drawing themselves.
  virtual void draw(Canvas& canvas, Size window_size) = 0;

  virtual void handle_click(const ClickInput& click) = 0;
  // The pointer moved with button 1 held, and button 1 was released.
  virtual void handle_pointer_drag(std::int32_t x, std::int32_t y) { (void)x, (void)y; }
  virtual void handle_pointer_release() {}
  virtual void handle_key(const DecodedKey& key) = 0;
  // Alt was pressed or released, or the window lost the keyboard with it held.
  virtual void handle_alt(bool held) { (void)held; }

  // The text offered to other programs while the window owns the CLIPBOARD.
  virtual std::string_view clipboard_text() const { return {}; }
  // The text of the paste the screen asked for: valid UTF-8, or nothing when
  // the owner refused or sent something else.
  virtual void handle_paste(std::optional<std::string> text) { (void)text; }
  // The path a paste into a path field names, or the drop's message for why
  // the copied files name none.
  virtual void handle_pasted_path(Result<std::string> path) { (void)path; }
  // Whether a drop would be taken now, and the path of one dropped (or why it was refused).
  virtual bool accepts_drop() const { return false; }
  virtual void handle_drop(Result<std::string> path) { (void)path; }

  // Takes at most one worker message without blocking, or reads the running
  // worker's progress; true when the screen changed.
  virtual bool poll_worker() = 0;
  // True while an apply or a backup runs (not a preview).
  virtual bool long_operation_running() const = 0;
  // The close guard: false keeps the window open (the screen shows why).
  virtual bool request_close() = 0;
  // A close the guard held back while cancelled work stopped may now happen.
  virtual bool close_ready() const { return false; }
};

// The main screen, the one the program shows; the target field starts with
// start_target when one is given (nothing is previewed).
std::unique_ptr<Screen> make_main_screen(std::optional<std::string> start_target = std::nullopt);

}  // namespace tarnwick
