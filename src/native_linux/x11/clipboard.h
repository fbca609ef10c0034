// The CLIPBOARD selection on X: taking ownership, answering other clients'
// requests for the text, and asking for and reading text to paste.
#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// Pasted text is read in one go of at most this many bytes.
inline constexpr long kPastePropertyLongs = 8192;

struct ClipboardAtoms {
  Atom clipboard = None;
  Atom utf8_string = None;
  Atom paste_property = None;  // _TARNWICK_PASTE
  Atom targets = None;
};

ClipboardAtoms intern_clipboard_atoms(Display* display);

void claim_clipboard(Display* display, Window window, const ClipboardAtoms& atoms);
void request_paste(Display* display, Window window, const ClipboardAtoms& atoms);

// Answers TARGETS, UTF8_STRING and STRING with the offered text; refuses the rest.
void answer_selection_request(Display* display, const XSelectionRequestEvent& request, const ClipboardAtoms& atoms,
                              std::string_view offered_text);

// The text of a SelectionNotify for our paste, when it is whole valid UTF-8.
// The property is deleted in every case.
std::optional<std::string> read_pasted_text(Display* display, Window window, const ClipboardAtoms& atoms);

}  // namespace tarnwick
