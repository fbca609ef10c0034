// CLIPBOARD owner and requester for plain UTF-8 text.
#include "native_linux/x11/clipboard.h"

#include <X11/Xatom.h>

#include <array>
#include <climits>

#include "common/utf8.h"
#include "native_linux/ui/ui_state.h"

namespace tarnwick {

ClipboardAtoms intern_clipboard_atoms(Display* display) {
  return ClipboardAtoms{XInternAtom(display, "CLIPBOARD", False), XInternAtom(display, "UTF8_STRING", False),
                        XInternAtom(display, "_TARNWICK_PASTE", False), XInternAtom(display, "TARGETS", False)};
}

void claim_clipboard(Display* display, Window window, const ClipboardAtoms& atoms) {
  XSetSelectionOwner(display, atoms.clipboard, window, CurrentTime);
  XFlush(display);
}

void request_paste(Display* display, Window window, const ClipboardAtoms& atoms) {
  XConvertSelection(display, atoms.clipboard, atoms.utf8_string, atoms.paste_property, window, CurrentTime);
  XFlush(display);
}

void answer_selection_request(Display* display, const XSelectionRequestEvent& request, const ClipboardAtoms& atoms,
                              std::string_view offered_text) {
  const Atom property = request.property != None ? request.property : request.target;
  Atom answered = None;
  if (request.selection == atoms.clipboard) {
    if (request.target == XA_STRING || request.target == atoms.utf8_string) {
      // A text beyond INT_MAX bytes cannot be described to Xlib; field and
      // review texts are far smaller, so this only guards the cast.
      const int length = offered_text.size() > INT_MAX ? INT_MAX : static_cast<int>(offered_text.size());
      XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(offered_text.data()), length);
      answered = property;
    } else if (request.target == atoms.targets) {
      const std::array<Atom, 3> offered{atoms.targets, atoms.utf8_string, XA_STRING};
      XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(offered.data()), static_cast<int>(offered.size()));
      answered = property;
    }
  }
  XEvent reply{};
  reply.xselection.type = SelectionNotify;
  reply.xselection.send_event = True;
  reply.xselection.display = display;
  reply.xselection.requestor = request.requestor;
  reply.xselection.selection = request.selection;
  reply.xselection.target = request.target;
  reply.xselection.property = answered;
  reply.xselection.time = request.time;
  XSendEvent(display, request.requestor, False, NoEventMask, &reply);
  XFlush(display);
}

std::optional<std::string> read_pasted_text(Display* display, Window window, const ClipboardAtoms& atoms) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display, window, atoms.paste_property, 0, kPastePropertyLongs, True,
                                        atoms.utf8_string, &type, &format, &items, &remaining, &data);
  std::optional<std::string> text;
  if (status == Success && type == atoms.utf8_string && format == 8 && remaining == 0 && data != nullptr) {
    std::string bytes(reinterpret_cast<const char*>(data), std::min<unsigned long>(items, kMaxFieldBytes));
    if (is_valid_utf8(bytes)) text = std::move(bytes);
  }
  if (data != nullptr) XFree(data);
  XDeleteProperty(display, window, atoms.paste_property);
  return text;
}

}  // namespace tarnwick
