// XDND drop target: Enter / Position / Leave / Drop, the uri-list transfer
// through _TARNWICK_DROP, and the Finished reply.
#include "native_linux/x11/drop_receiver.h"

#include <X11/Xatom.h>

#include <string>

#include "common/utf8.h"
#include "native_linux/ui/ui_state.h"
#include "native_linux/x11/drop_uri_list.h"

namespace tarnwick {

void DropReceiver::attach(Display* display, Window window) {
  display_ = display;
  window_ = window;
  enter_ = XInternAtom(display, "XdndEnter", False);
  position_ = XInternAtom(display, "XdndPosition", False);
  leave_ = XInternAtom(display, "XdndLeave", False);
  drop_ = XInternAtom(display, "XdndDrop", False);
  status_ = XInternAtom(display, "XdndStatus", False);
  finished_ = XInternAtom(display, "XdndFinished", False);
  selection_ = XInternAtom(display, "XdndSelection", False);
  type_list_ = XInternAtom(display, "XdndTypeList", False);
  uri_list_ = XInternAtom(display, "text/uri-list", False);
  drop_property_ = XInternAtom(display, "_TARNWICK_DROP", False);
  action_copy_ = XInternAtom(display, "XdndActionCopy", False);
  const long version = kXdndVersion;
  XChangeProperty(display, window, XInternAtom(display, "XdndAware", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&version), 1);
}

bool DropReceiver::handle_client_message(const XClientMessageEvent& message, Screen& screen) {
  if (display_ == nullptr || message.format != 32) return false;
  if (message.message_type == enter_) {
    on_enter(message, screen);
  } else if (message.message_type == position_) {
    on_position(message, screen);
  } else if (message.message_type == leave_) {
    if (static_cast<Window>(message.data.l[0]) == source_) {
      source_ = None;
      acceptable_ = false;
    }
  } else if (message.message_type == drop_) {
    on_drop(message, screen);
  } else {
    return false;
  }
  return true;
}

void DropReceiver::on_enter(const XClientMessageEvent& message, const Screen& screen) {
  source_ = static_cast<Window>(message.data.l[0]);
  acceptable_ = false;
  if (!screen.accepts_drop()) return;
  if ((message.data.l[1] & 1) != 0) {
    acceptable_ = source_list_has_uri_type(source_);
    return;
  }
  for (int i = 2; i <= 4; ++i) {
    if (static_cast<Atom>(message.data.l[i]) == uri_list_) acceptable_ = true;
  }
}

bool DropReceiver::source_list_has_uri_type(Window source) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display_, source, type_list_, 0, kTypeListLongs, False, XA_ATOM, &type,
                                        &format, &items, &remaining, &data);
  bool found = false;
  if (status == Success && type == XA_ATOM && format == 32 && remaining == 0 &&
      items <= static_cast<unsigned long>(kTypeListLongs) && data != nullptr) {
    // Format-32 property data arrives as an array of long, whatever the width of Atom.
    const auto* atoms = reinterpret_cast<const unsigned long*>(data);
    for (unsigned long i = 0; i < items; ++i) found = found || atoms[i] == uri_list_;
  }
  if (data != nullptr) XFree(data);
  return found;
}

void DropReceiver::on_position(const XClientMessageEvent& message, const Screen& screen) {
  const auto from = static_cast<Window>(message.data.l[0]);
  const bool accept = from == source_ && source_ != None && acceptable_ && screen.accepts_drop();
  send_to(from, status_, accept ? 1 : 0, 0, 0, accept ? static_cast<long>(action_copy_) : None);
}

void DropReceiver::on_drop(const XClientMessageEvent& message, const Screen& screen) {
  const auto from = static_cast<Window>(message.data.l[0]);
  if (from != source_ || source_ == None || !acceptable_ || !screen.accepts_drop()) {
    finish(false);
    return;
  }
  XConvertSelection(display_, selection_, uri_list_, drop_property_, window_, static_cast<Time>(message.data.l[2]));
  XFlush(display_);
}

bool DropReceiver::handle_selection_notify(const XSelectionEvent& event, Screen& screen) {
  if (display_ == nullptr || event.selection != selection_ || source_ == None) return false;
  if (event.property != drop_property_ || event.target != uri_list_ || !screen.accepts_drop()) {
    finish(false);
    return true;
  }
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display_, window_, drop_property_, 0, kDropPropertyLongs, True, uri_list_,
                                        &type, &format, &items, &remaining, &data);
  Result<std::string> path = fail("The dropped path could not be read.");
  if (status == Success && type == uri_list_ && format == 8 && remaining == 0 && data != nullptr &&
      items <= static_cast<unsigned long>(kMaxFieldBytes)) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), items);
    path = is_valid_utf8(bytes) ? parse_uri_list(bytes) : fail("Drop a file with a valid UTF-8 path.");
  }
  if (data != nullptr) XFree(data);
  XDeleteProperty(display_, window_, drop_property_);
  const bool accepted = path.has_value();
  screen.handle_drop(std::move(path));
  finish(accepted);
  return true;
}

void DropReceiver::finish(bool accepted) {
  if (source_ != None) {
    send_to(source_, finished_, accepted ? 1 : 0, accepted ? static_cast<long>(action_copy_) : None, 0, 0);
  }
  source_ = None;
  acceptable_ = false;
}

void DropReceiver::send_to(Window target, Atom type, long l1, long l2, long l3, long l4) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.display = display_;
  event.xclient.window = target;
  event.xclient.message_type = type;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(window_);
  event.xclient.data.l[1] = l1;
  event.xclient.data.l[2] = l2;
  event.xclient.data.l[3] = l3;
  event.xclient.data.l[4] = l4;
  XSendEvent(display_, target, False, NoEventMask, &event);
  XFlush(display_);
}

}  // namespace tarnwick
