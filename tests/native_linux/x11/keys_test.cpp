// X key presses in the screen's own terms: the keys it acts on, letters folded,
// the modifier bits, and text that is always valid UTF-8.
// gtest first: Xlib's macros (None, Success) would break its templates.
#include <gtest/gtest.h>

#include <X11/keysym.h>

#include "native_linux/x11/keys.h"

namespace tarnwick {
namespace {

TEST(X11Keys, KeysymsBecomeTheScreensKeys) {
  const std::pair<KeySym, Key> kCases[] = {
      {XK_Tab, Key::Tab},           {XK_ISO_Left_Tab, Key::Tab},   {XK_Return, Key::Return},
      {XK_Escape, Key::Escape},     {XK_space, Key::Space},        {XK_BackSpace, Key::BackSpace},
      {XK_Delete, Key::Delete},     {XK_Home, Key::Home},          {XK_End, Key::End},
      {XK_Left, Key::Left},         {XK_Right, Key::Right},        {XK_Up, Key::Up},
      {XK_Down, Key::Down},         {XK_Prior, Key::PageUp},       {XK_Next, Key::PageDown},
      {XK_Shift_L, Key::Modifier},  {XK_Control_R, Key::Modifier}, {XK_ISO_Level3_Shift, Key::Modifier},
      {XK_Num_Lock, Key::Modifier}, {XK_F1, Key::Other},           {XK_KP_Enter, Key::Other},
      {NoSymbol, Key::Other},       {XK_eacute, Key::Other},
  };
  for (const auto& [keysym, expected] : kCases) {
    EXPECT_EQ(decode_key_press(keysym, 0, "").key, expected) << "keysym " << keysym;
  }
}

TEST(X11Keys, LettersModifiersAndText) {
  const DecodedKey shifted = decode_key_press(XK_E, ShiftMask | ControlMask | LockMask, "E");
  EXPECT_EQ(shifted.key, Key::Letter);
  EXPECT_EQ(shifted.letter, 'e');
  EXPECT_EQ(shifted.modifiers, kModifierShift | kModifierControl) << "Caps Lock is no modifier of ours";
  EXPECT_EQ(decode_key_press(XK_z, Mod1Mask, "z").modifiers, kModifierAlt);
  // XLookupString without an input method hands out Latin-1 bytes.
  EXPECT_EQ(decode_key_press(XK_eacute, 0, "\xE9").text, "\xEF\xBF\xBD");
  EXPECT_EQ(decode_key_press(XK_eacute, 0, "\xC3\xA9").text, "\xC3\xA9");
}

// An Alt key's own event carries the state from before it; any other key's
// state tells whether Alt is held.
TEST(X11Keys, AltIsHeldFromItsPressToItsRelease) {
  EXPECT_TRUE(alt_held_after(XK_Alt_L, KeyTransition::Press, 0));
  EXPECT_TRUE(alt_held_after(XK_Meta_R, KeyTransition::Press, ShiftMask));
  EXPECT_FALSE(alt_held_after(XK_Alt_R, KeyTransition::Release, Mod1Mask));
  EXPECT_TRUE(alt_held_after(XK_m, KeyTransition::Press, Mod1Mask));
  EXPECT_TRUE(alt_held_after(XK_m, KeyTransition::Release, Mod1Mask | ShiftMask));
  EXPECT_FALSE(alt_held_after(XK_m, KeyTransition::Press, ControlMask));
  EXPECT_FALSE(alt_held_after(XK_Shift_L, KeyTransition::Release, ShiftMask));
}

}  // namespace
}  // namespace tarnwick
