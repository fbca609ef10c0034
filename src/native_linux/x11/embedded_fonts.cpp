// Embeds the TrueType files with .incbin so they live in read-only data and no
// font is ever read from disk at run time. TARNWICK_FONT_DIR is set by the build,
// which also lists the files as dependencies of this object.
#include "native_linux/x11/embedded_fonts.h"

#ifndef TARNWICK_FONT_DIR
#error "TARNWICK_FONT_DIR must name the folder of the bundled fonts"
#endif

#define TARNWICK_EMBED(symbol, file)                     \
  ".global " #symbol "\n"                                \
  ".hidden " #symbol "\n"                                \
  ".global " #symbol "_end\n"                            \
  ".hidden " #symbol "_end\n"                            \
  ".balign 16\n" #symbol ":\n"                           \
  ".incbin \"" TARNWICK_FONT_DIR "/" file "\"\n" #symbol \
  "_end:\n"

asm(".section .rodata.tarnwick_fonts,\"a\",@progbits\n"  //
    TARNWICK_EMBED(tarnwick_font_jetbrains_mono, "JetBrainsMono-Regular.ttf")
        TARNWICK_EMBED(tarnwick_font_inter, "Inter-Regular.ttf")
            TARNWICK_EMBED(tarnwick_font_rajdhani, "Rajdhani-Bold.ttf") ".previous\n");

extern "C" {
extern const unsigned char tarnwick_font_jetbrains_mono[];
extern const unsigned char tarnwick_font_jetbrains_mono_end[];
extern const unsigned char tarnwick_font_inter[];
extern const unsigned char tarnwick_font_inter_end[];
extern const unsigned char tarnwick_font_rajdhani[];
extern const unsigned char tarnwick_font_rajdhani_end[];
}

namespace tarnwick {

std::span<const unsigned char> jetbrains_mono_regular_data() {
  return {tarnwick_font_jetbrains_mono, tarnwick_font_jetbrains_mono_end};
}
std::span<const unsigned char> inter_regular_data() { return {tarnwick_font_inter, tarnwick_font_inter_end}; }
std::span<const unsigned char> rajdhani_bold_data() { return {tarnwick_font_rajdhani, tarnwick_font_rajdhani_end}; }

}  // namespace tarnwick
