// The window and its 25 ms polling loop: start-up checks, X event dispatch (keys,
// clicks, the clipboard and drops turned into the screen's own terms), the
// worker step, redraws and the shut-down order.
#include "native_linux/x11/desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include "native_linux/ui/pictures.h"
#include "native_linux/ui/screen_host.h"
#include "native_linux/x11/clipboard.h"
#include "native_linux/x11/display_name.h"
#include "native_linux/x11/drawing_surface.h"
#include "native_linux/x11/drop_receiver.h"
#include "native_linux/x11/drop_uri_list.h"
#include "native_linux/x11/keys.h"

namespace tarnwick {

namespace {

constexpr char kTitle[] = "Tarnwick Recursive Renames";
constexpr int kWindowX = 80;
constexpr int kWindowY = 60;
constexpr Size kInitialSize{1100, 810};
constexpr int kMinWidth = 850;
constexpr int kMinHeight = 680;
constexpr auto kPassInterval = std::chrono::milliseconds(25);
constexpr std::size_t kKeyTextBytes = 512;
// Releases and drags with button 1 move the review's scroll bar; key releases
// tell when Alt is let go.
constexpr long kBaseEventMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                                Button1MotionMask | ExposureMask | StructureNotifyMask | FocusChangeMask;

// The screen whose long operation the I/O error handler must let finish.
Screen* g_running_screen = nullptr;

// The X connection is gone. An apply or backup worker never touches X, but
// ending the process under it would cut a transaction short: work that has
// changed nothing is cancelled, and the one event (or the disappearance) of
// whatever runs is waited for first.
int on_io_error(Display*) {
  if (g_running_screen) {
    g_running_screen->request_close();
    while (g_running_screen->long_operation_running()) {
      g_running_screen->poll_worker();
      std::this_thread::sleep_for(kPassInterval);
    }
  }
  std::_Exit(1);
}

std::int32_t clamp_side(int value) { return std::clamp(value, 1, kMaxSurfaceSide); }

// The paste asked of the CLIPBOARD's owner: the target of the conversion under
// way, and what the pasted data goes into.
struct PasteRequest {
  PasteInto into = PasteInto::TextField;
  Atom target = None;
};

struct DesktopContext final : DesktopServices {
  Display* display = nullptr;
  int screen_number = 0;
  Window window = 0;
  Visual* visual = nullptr;
  Colormap colormap = 0;
  int depth = 0;
  FontFaces faces;
  std::unique_ptr<DrawingSurface> surface;
  XIM input_method = nullptr;
  XIC input_context = nullptr;
  std::vector<long> icon;
  Atom protocols_atom = None;
  Atom delete_window_atom = None;
  ClipboardAtoms clipboard_atoms;
  std::vector<IncrementalTransfer> clipboard_transfers;  // large texts other clients are reading
  DropReceiver drop;
  std::optional<PasteRequest> paste;
  std::unique_ptr<Screen> screen;
  std::vector<HitRegion> last_regions;
  bool dirty = true;
  bool running = true;
  bool window_destroyed = false;

  DesktopContext() = default;
  DesktopContext(const DesktopContext&) = delete;
  DesktopContext& operator=(const DesktopContext&) = delete;

  bool has_input_method() const override { return input_context != nullptr; }
  void claim_clipboard() override { tarnwick::claim_clipboard(display, window, clipboard_atoms); }
  // A path field asks which targets the owner offers first (TARGETS), to take
  // a file manager's copied files as a path.
  void request_paste(PasteInto into) override {
    paste = PasteRequest{into, into == PasteInto::PathField ? clipboard_atoms.targets : clipboard_atoms.utf8_string};
    tarnwick::request_paste(display, window, clipboard_atoms, paste->target);
  }

  // The shut-down order; also releases a partly built start-up.
  ~DesktopContext() override {
    if (g_running_screen == screen.get()) g_running_screen = nullptr;
    if (screen && display) screen->detach();
    screen.reset();  // drops a running preview's receiver: that worker is abandoned
    surface.reset();
    if (input_context) XDestroyIC(input_context);
    if (input_method) XCloseIM(input_method);
    if (window && !window_destroyed) XDestroyWindow(display, window);
    if (display) XCloseDisplay(display);
    // faces are destroyed after this body, once Xft has dropped its cached fonts
  }
};

Result<void> open_display(DesktopContext& context, const std::string& name) {
  context.display = XOpenDisplay(name.c_str());
  if (!context.display) return fail("An X11 desktop display is required.");
  context.screen_number = XDefaultScreen(context.display);
  context.depth = XDefaultDepth(context.display, context.screen_number);
  // Colours are written as 0xRRGGBB pixel values, which only these depths allow.
  if (context.depth != 24 && context.depth != 32) return fail("A 24-bit or 32-bit desktop display is required.");
  context.visual = XDefaultVisual(context.display, context.screen_number);
  context.colormap = XDefaultColormap(context.display, context.screen_number);
  return {};
}

void create_window(DesktopContext& context) {
  Display* display = context.display;
  context.window = XCreateSimpleWindow(display, XRootWindow(display, context.screen_number), kWindowX, kWindowY,
                                       kInitialSize.width, kInitialSize.height, 0, 0, palette::kBackground);
  // Selected before anything makes the window findable, so that a DestroyNotify
  // can never be missed.
  XSelectInput(display, context.window, kBaseEventMask);
  XStoreName(display, context.window, kTitle);  // Latin-1, safe for this ASCII title
  XChangeProperty(display, context.window, XInternAtom(display, "_NET_WM_NAME", False),
                  XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(kTitle), static_cast<int>(sizeof kTitle - 1));

  context.icon = icon_property(icon_rgba());
  XChangeProperty(display, context.window, XInternAtom(display, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(context.icon.data()),
                  static_cast<int>(context.icon.size()));

  // Docks and task bars find the menu entry of a window through its class.
  char instance_name[] = "tarnwick";
  char class_name[] = "Tarnwick";
  XClassHint class_hint{instance_name, class_name};
  XSetClassHint(display, context.window, &class_hint);

  XSizeHints hints{};
  hints.flags = PMinSize;
  hints.min_width = kMinWidth;
  hints.min_height = kMinHeight;
  XSetWMNormalHints(display, context.window, &hints);

  context.protocols_atom = XInternAtom(display, "WM_PROTOCOLS", False);
  context.delete_window_atom = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, context.window, &context.delete_window_atom, 1);
}

// Optional: without an input method keys are decoded by XLookupString.
void open_input_method(DesktopContext& context) {
  context.input_method = XOpenIM(context.display, nullptr, nullptr, nullptr);
  if (!context.input_method) {
    // XMODIFIERS may name a server that is not running; the built-in method
    // still composes dead keys.
    XSetLocaleModifiers("@im=none");
    context.input_method = XOpenIM(context.display, nullptr, nullptr, nullptr);
  }
  if (!context.input_method) return;
  context.input_context =
      XCreateIC(context.input_method, XNInputStyle, XIMPreeditNothing | XIMStatusNothing, XNClientWindow,
                context.window, XNFocusWindow, context.window, nullptr);
  if (!context.input_context) return;
  long filter_events = 0;
  if (XGetICValues(context.input_context, XNFilterEvents, &filter_events, nullptr) == nullptr) {
    XSelectInput(context.display, context.window, kBaseEventMask | filter_events);
  }
  XSetICFocus(context.input_context);
}

// Xutf8LookupString through the input context, or XLookupString without one,
// into a 512-byte buffer.
DecodedKey decode_key(DesktopContext& context, XKeyEvent& event) {
  std::array<char, kKeyTextBytes> buffer{};
  KeySym keysym = NoSymbol;
  int length = 0;
  if (context.input_context) {
    Status status = 0;
    length = Xutf8LookupString(context.input_context, &event, buffer.data(), static_cast<int>(buffer.size()),
                               &keysym, &status);
    if (status == XBufferOverflow || (status != XLookupChars && status != XLookupBoth)) length = 0;
    if (status != XLookupKeySym && status != XLookupBoth) keysym = NoSymbol;
  } else {
    length = XLookupString(&event, buffer.data(), static_cast<int>(buffer.size()), &keysym, nullptr);
  }
  const auto text_length = static_cast<std::size_t>(std::clamp(length, 0, static_cast<int>(buffer.size())));
  return decode_key_press(keysym, event.state, std::string_view(buffer.data(), text_length));
}

std::optional<PointerButton> pointer_button(unsigned int button) {
  switch (button) {
    case Button1: return PointerButton::Primary;
    case Button4: return PointerButton::WheelUp;
    case Button5: return PointerButton::WheelDown;
    default: return std::nullopt;  // other buttons do nothing
  }
}

// The owner's list of targets for a paste into a path field: the best of
// them is asked for next.
void continue_path_paste(DesktopContext& context, const XSelectionEvent& event) {
  const ClipboardAtoms& atoms = context.clipboard_atoms;
  std::vector<Atom> offered;
  if (event.property == atoms.paste_property) offered = read_offered_targets(context.display, context.window, atoms);
  context.paste = PasteRequest{PasteInto::PathField, path_paste_target(offered, atoms)};
  request_paste(context.display, context.window, atoms, context.paste->target);
}

// Text for our paste, or the end of a drop's transfer.
void on_selection_notify(DesktopContext& context, const XSelectionEvent& event) {
  if (context.drop.handle_selection_notify(event, *context.screen)) return;
  const ClipboardAtoms& atoms = context.clipboard_atoms;
  if (event.selection != atoms.clipboard) return;
  // The answer names the target it answers, which a late answer to an earlier
  // paste may not share with the one asked last.
  const PasteInto into = context.paste ? context.paste->into : PasteInto::TextField;
  context.paste.reset();
  const Atom target = event.target;
  if (target == atoms.targets) {
    continue_path_paste(context, event);
    return;
  }
  // The owner refused: no property came with the answer.
  if (event.property != atoms.paste_property) {
    context.screen->handle_paste(std::nullopt);
    return;
  }
  if (target == atoms.uri_list || target == atoms.gnome_copied_files) {
    const std::optional<std::string> files = read_pasted_files(context.display, context.window, atoms, target);
    if (!files) {
      context.screen->handle_paste(std::nullopt);
      return;
    }
    context.screen->handle_pasted_path(target == atoms.uri_list ? path_from_uri_list(*files)
                                                                : path_from_copied_files(*files));
    return;
  }
  std::optional<std::string> text = read_pasted_text(context.display, context.window, atoms);
  if (text && into == PasteInto::PathField) {
    if (std::optional<Result<std::string>> path = path_from_pasted_text(*text)) {
      context.screen->handle_pasted_path(std::move(*path));
      return;
    }
  }
  context.screen->handle_paste(std::move(text));
}

void handle_close_request(DesktopContext& context) {
  if (context.screen->request_close()) context.running = false;
}

void dispatch(DesktopContext& context, XEvent& event) {
  context.dirty = true;
  switch (event.type) {
    case KeyPress:
      context.screen->handle_alt(
          alt_held_after(XLookupKeysym(&event.xkey, 0), KeyTransition::Press, event.xkey.state));
      context.screen->handle_key(decode_key(context, event.xkey));
      return;
    case KeyRelease:
      context.screen->handle_alt(
          alt_held_after(XLookupKeysym(&event.xkey, 0), KeyTransition::Release, event.xkey.state));
      return;
    case ButtonRelease:
      if (event.xbutton.button == Button1) context.screen->handle_pointer_release();
      return;
    case MotionNotify:
      context.screen->handle_pointer_drag(event.xmotion.x, event.xmotion.y);
      return;
    case ButtonPress: {
      const XButtonEvent& pressed = event.xbutton;
      const std::optional<PointerButton> button = pointer_button(pressed.button);
      if (!button) return;
      ClickInput click{pressed.x, pressed.y, *button, std::nullopt};
      if (*button == PointerButton::Primary) click.region = hit_test(context.last_regions, pressed.x, pressed.y);
      context.screen->handle_click(click);
      return;
    }
    case FocusIn:
      if (context.input_context) XSetICFocus(context.input_context);
      return;
    case FocusOut:
      if (context.input_context) XUnsetICFocus(context.input_context);
      // Alt may be let go in another window: the underlines must not stay.
      context.screen->handle_alt(false);
      return;
    case Expose:
      return;
    case ConfigureNotify:
      if (event.xconfigure.window != context.window) return;
      context.surface->resize(Size{clamp_side(event.xconfigure.width), clamp_side(event.xconfigure.height)});
      return;
    case DestroyNotify:
      if (event.xdestroywindow.window != context.window) return;
      context.window_destroyed = true;
      // Nobody can see the result any more: work that has changed nothing stops.
      context.screen->request_close();
      return;
    case MappingNotify:
      XRefreshKeyboardMapping(&event.xmapping);
      return;
    case ClientMessage:
      if (event.xclient.message_type == context.protocols_atom && event.xclient.format == 32 &&
          static_cast<Atom>(event.xclient.data.l[0]) == context.delete_window_atom) {
        handle_close_request(context);
        return;
      }
      context.drop.handle_client_message(event.xclient, *context.screen);
      return;
    case SelectionRequest:
      answer_selection_request(context.display, event.xselectionrequest, context.clipboard_atoms,
                               context.screen->clipboard_text(), single_property_limit(context.display),
                               context.clipboard_transfers);
      return;
    case PropertyNotify:
      continue_incremental_transfer(context.display, event.xproperty, context.clipboard_transfers);
      return;
    case SelectionNotify:
      on_selection_notify(context, event.xselection);
      return;
    default:
      return;
  }
}

void draw_frame(DesktopContext& context) {
  DrawingSurface& surface = *context.surface;
  surface.begin_frame();
  context.screen->draw(surface, surface.size());
  surface.clear_text_clip();
  surface.present();
  context.last_regions = surface.hit_regions();
}

void run_loop(DesktopContext& context) {
  while (true) {
    if (context.screen->poll_worker()) context.dirty = true;
    if (context.screen->close_ready()) context.running = false;
    if (context.window_destroyed && !context.screen->long_operation_running()) return;
    while (XPending(context.display) > 0) {
      XEvent event;
      XNextEvent(context.display, &event);
      if (XFilterEvent(&event, context.window)) continue;
      dispatch(context, event);
    }
    if (!context.running) return;
    if (context.dirty && !context.window_destroyed) {
      draw_frame(context);
      context.dirty = false;
    }
    std::this_thread::sleep_for(kPassInterval);
  }
}

}  // namespace

Result<void> run_desktop_with(std::unique_ptr<Screen> screen) {
  const char* display_value = std::getenv("DISPLAY");
  const std::string display_name =
      TRY(validate_display_name(display_value ? std::optional<std::string_view>(display_value) : std::nullopt));
  std::setlocale(LC_CTYPE, "");
  XSetLocaleModifiers("");
  XSetErrorHandler(record_x_error);
  XSetIOErrorHandler(on_io_error);
  // A write to a lost connection must reach the I/O error handler (which lets a
  // running apply or backup finish) instead of killing the process outright.
  std::signal(SIGPIPE, SIG_IGN);

  DesktopContext context;
  TRY(open_display(context, display_name));
  create_window(context);
  open_input_method(context);
  TRY(context.faces.load());
  const SurfaceTarget target{context.display, context.window, context.visual, context.colormap, context.depth};
  context.surface = TRY(DrawingSurface::create(target, context.faces, kInitialSize));

  context.clipboard_atoms = intern_clipboard_atoms(context.display);
  context.drop.attach(context.display, context.window);
  context.screen = std::move(screen);
  context.screen->attach(context);
  g_running_screen = context.screen.get();
  XMapWindow(context.display, context.window);
  run_loop(context);
  return {};
}

Result<void> run_desktop(std::optional<std::string> start_target) {
  return run_desktop_with(make_main_screen(std::move(start_target)));
}

}  // namespace tarnwick
