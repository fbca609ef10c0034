// The CLIPBOARD selection on X: taking ownership, answering other clients'
// requests for the text, and asking for and reading text to paste.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// Pasted text is read in one go of at most this many bytes.
inline constexpr long kPastePropertyLongs = 8192;

struct ClipboardAtoms {
  Atom clipboard = None;
  Atom utf8_string = None;
  Atom paste_property = None;  // _TARNWICK_PASTE
  Atom targets = None;
  Atom uri_list = None;            // text/uri-list
  Atom gnome_copied_files = None;  // x-special/gnome-copied-files
};

ClipboardAtoms intern_clipboard_atoms(Display* display);

void claim_clipboard(Display* display, Window window, const ClipboardAtoms& atoms);
// Asks the CLIPBOARD's owner to convert to `target` (TARGETS, UTF8_STRING or a
// list of copied files) into _TARNWICK_PASTE.
void request_paste(Display* display, Window window, const ClipboardAtoms& atoms, Atom target);

// A paste into a path field: the owner's offer of copied files, best first
// (text/uri-list, then x-special/gnome-copied-files), else its text.
Atom path_paste_target(const std::vector<Atom>& offered, const ClipboardAtoms& atoms);

// A text too large for one property, sent in pieces (the ICCCM "INCR"
// protocol): each piece once the requestor has deleted the one before, then
// an empty piece.
struct IncrementalTransfer {
  Window requestor = None;
  Atom property = None;
  Atom type = None;
  std::shared_ptr<const std::string> text;
  std::size_t sent = 0;         // bytes of text already written
  std::size_t piece_bytes = 0;  // at most kClipboardPieceBytes, and what one change may carry
};

// Transfers in progress, at most this many (the oldest is dropped). A piece
// goes per pass of the event loop, so pieces are large.
inline constexpr std::size_t kMaxIncrementalTransfers = 4;
inline constexpr std::size_t kClipboardPieceBytes = 1024 * 1024;

// The most bytes one property change may carry on this connection.
std::size_t single_property_limit(Display* display);

// Answers TARGETS, UTF8_STRING and STRING with the offered text; refuses the
// rest. A text longer than single_piece_limit is announced as INCR and its
// transfer added to transfers.
void answer_selection_request(Display* display, const XSelectionRequestEvent& request, const ClipboardAtoms& atoms,
                              std::string_view offered_text, std::size_t single_piece_limit,
                              std::vector<IncrementalTransfer>& transfers);

// Sends the next piece when a requestor deleted the property of a transfer;
// a finished transfer is removed. Other property events are ignored.
void continue_incremental_transfer(Display* display, const XPropertyEvent& event,
                                   std::vector<IncrementalTransfer>& transfers);

// The text of a SelectionNotify for our paste, when it is whole valid UTF-8.
// The property is deleted in every case.
std::optional<std::string> read_pasted_text(Display* display, Window window, const ClipboardAtoms& atoms);
// The targets a TARGETS answer lists (none when it cannot be read); the
// property is deleted.
std::vector<Atom> read_offered_targets(Display* display, Window window, const ClipboardAtoms& atoms);
// The bytes of an answer for a list of copied files, when whole; owners label
// it with the target or as text. The property is deleted in every case.
std::optional<std::string> read_pasted_files(Display* display, Window window, const ClipboardAtoms& atoms,
                                             Atom target);

}  // namespace tarnwick
