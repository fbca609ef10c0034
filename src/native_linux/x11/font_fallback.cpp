// Finding, opening and remembering the system fonts that draw what the embedded
// faces lack.
#include "native_linux/x11/font_fallback.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr double kDotsPerInch = 96;  // as for the embedded fonts

int integer_of(FcPattern* pattern, const char* object, int fallback) {
  int value = 0;
  return FcPatternGetInteger(pattern, object, 0, &value) == FcResultMatch ? value : fallback;
}

bool pattern_has_character(FcPattern* pattern, char32_t code_point) {
  FcCharSet* characters = nullptr;
  return FcPatternGetCharSet(pattern, FC_CHARSET, 0, &characters) == FcResultMatch &&
         FcCharSetHasChar(characters, code_point);
}

// What a font for this slot should look like, covering one character. The
// generic family keeps monospaced slots monospaced where the system can.
FcPattern* wanted_pattern(bool monospaced, int weight, int slant, double pixel_size, char32_t code_point) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return nullptr;
  const char* family = monospaced ? "monospace" : "sans-serif";
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT, weight);
  FcPatternAddInteger(pattern, FC_SLANT, slant);
  FcPatternAddDouble(pattern, FC_PIXEL_SIZE, pixel_size);
  FcPatternAddDouble(pattern, FC_DPI, kDotsPerInch);
  FcPatternAddBool(pattern, FC_ANTIALIAS, FcTrue);
  FcPatternAddBool(pattern, FC_HINTING, FcTrue);
  // Coverage ranks above family in fontconfig's matching, so a font that has
  // the character wins over one in the right family that lacks it.
  FcCharSet* characters = FcCharSetCreate();
  if (characters) {
    FcCharSetAddChar(characters, code_point);
    FcPatternAddCharSet(pattern, FC_CHARSET, characters);
    FcCharSetDestroy(characters);
  }
  return pattern;
}

// Fontconfig's own spacing guess fails for monospaced faces with wide
// ligature glyphs, so the face's fixed-pitch flag decides.
bool is_monospaced(XftFont* font) {
  FT_Face face = XftLockFace(font);
  const bool fixed = face && FT_IS_FIXED_WIDTH(face);
  if (face) XftUnlockFace(font);
  return fixed;
}

}  // namespace

FontFallback::~FontFallback() {
  for (Slot& each : slots_) {
    for (const OpenedFont& opened : each.opened) XftFontClose(display_, opened.font);
  }
}

void FontFallback::set_primary(FontRole role, XftFont* font) {
  Slot& target = slot(role);
  target.primary = font;
  target.monospaced = is_monospaced(font);
  target.weight = integer_of(font->pattern, FC_WEIGHT, FC_WEIGHT_REGULAR);
  target.slant = integer_of(font->pattern, FC_SLANT, FC_SLANT_ROMAN);
  double size = 0;
  if (FcPatternGetDouble(font->pattern, FC_PIXEL_SIZE, 0, &size) == FcResultMatch) target.pixel_size = size;
  for (char32_t code_point = 0; code_point < 128; ++code_point) {
    target.ascii[code_point] = XftCharExists(display_, font, code_point) != 0;
  }
}

bool FontFallback::is_single_run(std::string_view text, FontRole role) const {
  const std::bitset<128>& ascii = slot(role).ascii;
  return std::all_of(text.begin(), text.end(), [&](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 128 && ascii[byte];
  });
}

XftFont* FontFallback::font_for(FontRole role, char32_t code_point) {
  Slot& target = slot(role);
  if (code_point < 128 && target.ascii[code_point]) return target.primary;
  if (XftCharExists(display_, target.primary, code_point)) return target.primary;
  Block& block = target.blocks[code_point / kFallbackBlockCodePoints];
  for (XftFont* font : block.fonts) {
    if (XftCharExists(display_, font, code_point)) return font;
  }
  const std::size_t bit = code_point % kFallbackBlockCodePoints;
  if (block.uncovered[bit]) return target.primary;
  XftFont* found = find_in_system(target, code_point);
  if (!found) {
    block.uncovered[bit] = true;
    return target.primary;
  }
  if (std::find(block.fonts.begin(), block.fonts.end(), found) == block.fonts.end()) block.fonts.push_back(found);
  return found;
}

XftFont* FontFallback::find_in_system(Slot& target, char32_t code_point) {
  ++system_queries_;
  FcPattern* pattern = wanted_pattern(target.monospaced, target.weight, target.slant, target.pixel_size, code_point);
  if (!pattern) return nullptr;
  FcResult result = FcResultNoMatch;
  FcPattern* match = XftFontMatch(display_, XDefaultScreen(display_), pattern, &result);
  FcPatternDestroy(pattern);
  if (!match) return nullptr;
  // The best match is returned even when no installed font has the character.
  if (!pattern_has_character(match, code_point)) {
    FcPatternDestroy(match);
    return nullptr;
  }
  return open_matched(target, match);
}

// Takes `match`. One font file serves many blocks (a CJK face covers dozens),
// so it is opened once per slot.
XftFont* FontFallback::open_matched(Slot& target, FcPattern* match) {
  FcChar8* file = nullptr;
  FcPatternGetString(match, FC_FILE, 0, &file);
  const std::string file_name = file ? reinterpret_cast<const char*>(file) : "";
  const int index = integer_of(match, FC_INDEX, 0);
  for (const OpenedFont& opened : target.opened) {
    if (!file_name.empty() && opened.file == file_name && opened.index == index) {
      FcPatternDestroy(match);
      return opened.font;
    }
  }
  XftFont* font = XftFontOpenPattern(display_, match);  // owns the pattern on success only
  if (!font) {
    FcPatternDestroy(match);
    return nullptr;
  }
  target.opened.push_back(OpenedFont{file_name, index, font});
  return font;
}

}  // namespace tarnwick

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig 2.14 loses a few bytes while parsing its configuration, once per
// process, the first time a system font is looked up. Its frames carry no frame
// pointers, so the fast unwinder stops inside the library and the suppression
// can only name the library (with fast_unwind_on_malloc=0 the stacks end in
// FcInitLoadConfigAndFonts, and nothing else of ours leaks).
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
