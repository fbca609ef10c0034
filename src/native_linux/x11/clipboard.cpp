// CLIPBOARD owner and requester for plain UTF-8 text.
#include "native_linux/x11/clipboard.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <initializer_list>

#include "common/utf8.h"
#include "native_linux/ui/ui_state.h"

namespace tarnwick {

ClipboardAtoms intern_clipboard_atoms(Display* display) {
  return ClipboardAtoms{XInternAtom(display, "CLIPBOARD", False),
                        XInternAtom(display, "UTF8_STRING", False),
                        XInternAtom(display, "_TARNWICK_PASTE", False),
                        XInternAtom(display, "TARGETS", False),
                        XInternAtom(display, "text/uri-list", False),
                        XInternAtom(display, "x-special/gnome-copied-files", False)};
}

void claim_clipboard(Display* display, Window window, const ClipboardAtoms& atoms) {
  XSetSelectionOwner(display, atoms.clipboard, window, CurrentTime);
  XFlush(display);
}

void request_paste(Display* display, Window window, const ClipboardAtoms& atoms, Atom target) {
  XConvertSelection(display, atoms.clipboard, target, atoms.paste_property, window, CurrentTime);
  XFlush(display);
}

Atom path_paste_target(const std::vector<Atom>& offered, const ClipboardAtoms& atoms) {
  for (const Atom wanted : {atoms.uri_list, atoms.gnome_copied_files}) {
    if (std::ranges::find(offered, wanted) != offered.end()) return wanted;
  }
  return atoms.utf8_string;
}

std::size_t single_property_limit(Display* display) {
  // Request lengths count four-byte units; a change-property request has a
  // 24-byte header, and a margin keeps clear of the exact bound.
  const long units = XExtendedMaxRequestSize(display) > 0 ? XExtendedMaxRequestSize(display) : XMaxRequestSize(display);
  const std::size_t bytes = static_cast<std::size_t>(units) * 4;
  // Xlib takes a property's length as an int.
  return std::min<std::size_t>(bytes > 4096 ? bytes - 4096 : 0, INT_MAX);
}

namespace {

Atom incr_atom(Display* display) { return XInternAtom(display, "INCR", False); }

// Announces the transfer: the property holds INCR and a lower bound of the size.
void start_incremental_transfer(Display* display, const XSelectionRequestEvent& request, Atom property,
                                std::string_view text, std::size_t single_piece_limit,
                                std::vector<IncrementalTransfer>& transfers) {
  if (transfers.size() >= kMaxIncrementalTransfers) transfers.erase(transfers.begin());
  // The requestor's property deletions tell when to send the next piece.
  XSelectInput(display, request.requestor, PropertyChangeMask);
  const long size = text.size() > LONG_MAX ? LONG_MAX : static_cast<long>(text.size());
  XChangeProperty(display, request.requestor, property, incr_atom(display), 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&size), 1);
  // Requests for one text share one copy of it, even while a transfer that
  // was abandoned by its requestor waits to be dropped.
  std::shared_ptr<const std::string> copy;
  if (!transfers.empty() && *transfers.back().text == text) copy = transfers.back().text;
  if (!copy) copy = std::make_shared<const std::string>(text);
  transfers.push_back({request.requestor, property, request.target, std::move(copy), 0,
                       std::max<std::size_t>(1, std::min(kClipboardPieceBytes, single_piece_limit))});
}

}  // namespace

void answer_selection_request(Display* display, const XSelectionRequestEvent& request, const ClipboardAtoms& atoms,
                              std::string_view offered_text, std::size_t single_piece_limit,
                              std::vector<IncrementalTransfer>& transfers) {
  const Atom property = request.property != None ? request.property : request.target;
  Atom answered = None;
  if (request.selection == atoms.clipboard) {
    if ((request.target == XA_STRING || request.target == atoms.utf8_string) &&
        offered_text.size() > single_piece_limit) {
      // Our own paste never takes that much, and selecting property events on
      // our own window would replace the window's event mask.
      if (request.requestor != request.owner) {
        start_incremental_transfer(display, request, property, offered_text, single_piece_limit, transfers);
        answered = property;
      }
    } else if (request.target == XA_STRING || request.target == atoms.utf8_string) {
      XChangeProperty(display, request.requestor, property, request.target, 8, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(offered_text.data()),
                      static_cast<int>(offered_text.size()));
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

namespace {

// The paste property read whole in one go, when its type is one of `types` and
// its format `format`; then deleted in every case.
struct PasteProperty {
  Atom type = None;
  std::string bytes;  // items × format / 8 bytes
};
std::optional<PasteProperty> read_paste_property(Display* display, Window window, const ClipboardAtoms& atoms,
                                                 std::initializer_list<Atom> types, int wanted_format) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long remaining = 0;
  unsigned char* data = nullptr;
  const Atom requested = types.size() == 1 ? *types.begin() : AnyPropertyType;
  const int status = XGetWindowProperty(display, window, atoms.paste_property, 0, kPastePropertyLongs, True,
                                        requested, &type, &format, &items, &remaining, &data);
  std::optional<PasteProperty> property;
  if (status == Success && std::ranges::find(types, type) != types.end() && format == wanted_format &&
      remaining == 0 && data != nullptr) {
    // Xlib hands format-32 items as longs.
    const std::size_t item_bytes = format == 32 ? sizeof(long) : 1;
    property = PasteProperty{type, std::string(reinterpret_cast<const char*>(data), items * item_bytes)};
  }
  if (data != nullptr) XFree(data);
  XDeleteProperty(display, window, atoms.paste_property);
  return property;
}

}  // namespace

std::optional<std::string> read_pasted_text(Display* display, Window window, const ClipboardAtoms& atoms) {
  std::optional<PasteProperty> property = read_paste_property(display, window, atoms, {atoms.utf8_string}, 8);
  if (!property) return std::nullopt;
  std::string& bytes = property->bytes;
  bytes.resize(std::min(bytes.size(), kMaxFieldBytes));
  if (!is_valid_utf8(bytes)) return std::nullopt;
  return std::move(bytes);
}

std::vector<Atom> read_offered_targets(Display* display, Window window, const ClipboardAtoms& atoms) {
  const std::optional<PasteProperty> property = read_paste_property(display, window, atoms, {XA_ATOM}, 32);
  std::vector<Atom> offered;
  if (!property) return offered;
  offered.resize(property->bytes.size() / sizeof(long));
  for (std::size_t i = 0; i < offered.size(); ++i) {
    long value = 0;
    std::memcpy(&value, property->bytes.data() + i * sizeof(long), sizeof value);
    offered[i] = static_cast<Atom>(value);
  }
  return offered;
}

std::optional<std::string> read_pasted_files(Display* display, Window window, const ClipboardAtoms& atoms,
                                             Atom target) {
  std::optional<PasteProperty> property =
      read_paste_property(display, window, atoms, {target, atoms.utf8_string, XA_STRING}, 8);
  if (!property) return std::nullopt;
  return std::move(property->bytes);
}

void continue_incremental_transfer(Display* display, const XPropertyEvent& event,
                                   std::vector<IncrementalTransfer>& transfers) {
  if (event.state != PropertyDelete) return;
  const auto transfer = std::ranges::find_if(transfers, [&](const IncrementalTransfer& t) {
    return t.requestor == event.window && t.property == event.atom;
  });
  if (transfer == transfers.end()) return;
  const std::string& text = *transfer->text;
  // The last piece is empty: it tells the requestor that the text is complete.
  const std::size_t length = std::min(transfer->piece_bytes, text.size() - transfer->sent);
  XChangeProperty(display, transfer->requestor, transfer->property, transfer->type, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(text.data() + transfer->sent), static_cast<int>(length));
  transfer->sent += length;
  if (length == 0) {
    const Window requestor = transfer->requestor;
    transfers.erase(transfer);
    if (std::ranges::none_of(transfers, [&](const IncrementalTransfer& t) { return t.requestor == requestor; }))
      XSelectInput(display, requestor, NoEventMask);
  }
  XFlush(display);
}

}  // namespace tarnwick
