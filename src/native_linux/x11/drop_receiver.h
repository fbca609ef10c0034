// The XDND (version 5) drop target: one local file or folder dropped on the
// window goes to the screen, which takes it as the target path.
#pragma once

#include <X11/Xlib.h>

#include "native_linux/ui/screen_host.h"

namespace tarnwick {

inline constexpr long kXdndVersion = 5;
inline constexpr long kTypeListLongs = 64;
inline constexpr long kDropPropertyLongs = 8192;

class DropReceiver {
 public:
  // Interns the atoms and announces XdndAware on the window.
  void attach(Display* display, Window window);

  // True when the event belonged to the drop protocol.
  bool handle_client_message(const XClientMessageEvent& message, Screen& screen);
  bool handle_selection_notify(const XSelectionEvent& event, Screen& screen);

 private:
  void on_enter(const XClientMessageEvent& message, const Screen& screen);
  void on_position(const XClientMessageEvent& message, const Screen& screen);
  void on_drop(const XClientMessageEvent& message, const Screen& screen);
  bool source_list_has_uri_type(Window source);
  void finish(bool accepted);
  void send_to(Window target, Atom type, long l1, long l2, long l3, long l4);

  Display* display_ = nullptr;
  Window window_ = None;
  Window source_ = None;
  bool acceptable_ = false;
  Atom enter_ = None, position_ = None, leave_ = None, drop_ = None, status_ = None, finished_ = None;
  Atom selection_ = None, type_list_ = None, uri_list_ = None, drop_property_ = None, action_copy_ = None;
};

}  // namespace tarnwick
