// System fonts for the characters the embedded faces lack: per font slot, the
// embedded font first, then a font fontconfig finds for each missing character,
// remembered per block of code points so a long listing asks fontconfig rarely.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/utf8.h"
#include "native_linux/ui/canvas.h"

namespace tarnwick {

inline constexpr std::size_t kFallbackBlockCodePoints = 256;

class FontFallback {
 public:
  explicit FontFallback(Display* display) : display_(display) {}
  FontFallback(const FontFallback&) = delete;
  FontFallback& operator=(const FontFallback&) = delete;
  // Closes the system fonts it opened; the embedded ones belong to the caller.
  ~FontFallback();

  // The slot's embedded font; its pitch, weight, slant and size are what
  // fontconfig is asked to match for the slot's missing characters.
  void set_primary(FontRole role, XftFont* font);
  XftFont* primary(FontRole role) const { return slot(role).primary; }

  // True when the whole text is ASCII the embedded font has: one run, no lookup.
  bool is_single_run(std::string_view text, FontRole role) const;

  // The embedded font when it has the character, else an installed font that
  // has it, else the embedded font, whose missing-glyph box then shows.
  XftFont* font_for(FontRole role, char32_t code_point);

  // Calls visit(run, font) for each longest stretch of `valid_utf8` drawn with one font.
  template <typename Visit>
  void for_each_run(std::string_view valid_utf8, FontRole role, Visit&& visit) {
    std::size_t run_start = 0;
    XftFont* run_font = nullptr;
    for (std::size_t at = 0; at < valid_utf8.size();) {
      const Utf8Step step = utf8_step(valid_utf8, at);
      XftFont* font = font_for(role, step.code_point);
      if (font != run_font && at > run_start) visit(valid_utf8.substr(run_start, at - run_start), run_font);
      if (font != run_font) {
        run_start = at;
        run_font = font;
      }
      at += step.length;
    }
    if (run_start < valid_utf8.size()) visit(valid_utf8.substr(run_start), run_font);
  }

  // How often fontconfig was asked for a font (each answer is kept).
  std::size_t system_queries() const { return system_queries_; }

 private:
  struct Block {
    std::vector<XftFont*> fonts;                       // tried first, in the order found
    std::bitset<kFallbackBlockCodePoints> uncovered;   // asked for and found in no font
  };
  struct OpenedFont {
    std::string file;
    int index = 0;
    XftFont* font = nullptr;
  };
  struct Slot {
    XftFont* primary = nullptr;
    std::bitset<128> ascii;  // the ASCII characters the embedded font has
    bool monospaced = false;
    int weight = FC_WEIGHT_REGULAR;
    int slant = FC_SLANT_ROMAN;
    double pixel_size = 0;
    std::unordered_map<char32_t, Block> blocks;  // by code point / block size
    std::vector<OpenedFont> opened;
  };

  const Slot& slot(FontRole role) const { return slots_[static_cast<std::size_t>(role)]; }
  Slot& slot(FontRole role) { return slots_[static_cast<std::size_t>(role)]; }
  XftFont* find_in_system(Slot& slot, char32_t code_point);
  XftFont* open_matched(Slot& slot, FcPattern* match);

  Display* display_;
  std::array<Slot, kFontRoleCount> slots_{};
  std::size_t system_queries_ = 0;
};

}  // namespace tarnwick
