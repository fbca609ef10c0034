// X keysyms and modifier masks into the program's own key type.
#include "native_linux/x11/keys.h"

#include <X11/keysym.h>

#include "common/utf8.h"

namespace tarnwick {
namespace {

Key key_of(KeySym keysym) {
  // Shift, Control, Alt and the lock and group keys arrive as presses of their own.
  if ((keysym >= XK_Shift_L && keysym <= XK_Hyper_R) || (keysym >= XK_ISO_Lock && keysym <= XK_ISO_Level5_Lock) ||
      keysym == XK_Mode_switch || keysym == XK_Num_Lock) {
    return Key::Modifier;
  }
  if ((keysym >= XK_a && keysym <= XK_z) || (keysym >= XK_A && keysym <= XK_Z)) return Key::Letter;
  switch (keysym) {
    case XK_Tab:
    case XK_ISO_Left_Tab:  // Shift+Tab on most layouts
      return Key::Tab;
    case XK_Return: return Key::Return;
    case XK_Escape: return Key::Escape;
    case XK_space: return Key::Space;
    case XK_BackSpace: return Key::BackSpace;
    case XK_Delete: return Key::Delete;
    case XK_Home: return Key::Home;
    case XK_End: return Key::End;
    case XK_Left: return Key::Left;
    case XK_Right: return Key::Right;
    case XK_Up: return Key::Up;
    case XK_Down: return Key::Down;
    case XK_Prior: return Key::PageUp;
    case XK_Next: return Key::PageDown;
    default: return Key::Other;
  }
}

unsigned modifiers_of(unsigned int state) {
  unsigned modifiers = 0;
  if ((state & ShiftMask) != 0) modifiers |= kModifierShift;
  if ((state & ControlMask) != 0) modifiers |= kModifierControl;
  if ((state & Mod1Mask) != 0) modifiers |= kModifierAlt;
  return modifiers;
}

bool is_alt_key(KeySym keysym) {
  return keysym == XK_Alt_L || keysym == XK_Alt_R || keysym == XK_Meta_L || keysym == XK_Meta_R;
}

}  // namespace

bool alt_held_after(KeySym keysym, KeyTransition transition, unsigned int state) {
  if (is_alt_key(keysym)) return transition == KeyTransition::Press;
  return (state & Mod1Mask) != 0;
}

DecodedKey decode_key_press(KeySym keysym, unsigned int state, std::string_view text) {
  DecodedKey key;
  key.key = key_of(keysym);
  // The letter keysyms are the letters' ASCII codes.
  if (key.key == Key::Letter) key.letter = ascii_lower(static_cast<char>(keysym));
  key.modifiers = modifiers_of(state);
  key.text = lossy_utf8(text);
  return key;
}

}  // namespace tarnwick
