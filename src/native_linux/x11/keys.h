// X key presses in the program's own terms.
#pragma once

#include <X11/Xlib.h>

#include <string_view>

#include "native_linux/ui/keyboard.h"

namespace tarnwick {

// The key a keysym stands for, the event's modifier state as the screen's
// modifier bits, and the looked-up text as valid UTF-8 (XLookupString may hand
// out Latin-1 bytes). keysym is NoSymbol when the lookup gave none.
DecodedKey decode_key_press(KeySym keysym, unsigned int state, std::string_view text);

// Whether Alt is held once a key event is through: an Alt key's own press or
// release says so (its state is from before it), any other key's state does.
enum class KeyTransition : std::uint8_t { Press, Release };
bool alt_held_after(KeySym keysym, KeyTransition transition, unsigned int state);

}  // namespace tarnwick
