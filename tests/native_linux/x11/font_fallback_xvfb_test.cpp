// Characters the embedded faces lack, on a real X server with the test fonts
// installed (CJK from fonts-wqy-microhei, Arabic and Hebrew from fonts-dejavu-core):
// drawn with system fonts, measured with the faces that draw them, and a box
// only where no installed font has the character.
#include <gtest/gtest.h>

#include "xvfb_session.h"
// After gtest: Xlib's macros clash with gtest's names.
#include "native_linux/x11/drawing_surface.h"

namespace tarnwick::testing {
namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 120;
constexpr const char* kNoFontHasIt = "\xF4\x8F\xBF\xBD";  // U+10FFFD, private use in plane 16

struct Picture {
  int width = 0;
  std::vector<unsigned long> pixels;
  friend bool operator==(const Picture&, const Picture&) = default;
};

class FontFallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    display_ = XOpenDisplay(server_.display().c_str());
    ASSERT_NE(display_, nullptr);
    XSetErrorHandler(record_x_error);
    const int screen = XDefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, XRootWindow(display_, screen), 0, 0, kWidth, kHeight, 0, 0, 0);
    XSelectInput(display_, window_, ExposureMask);
    XMapWindow(display_, window_);
    XEvent event;
    XWindowEvent(display_, window_, ExposureMask, &event);
    ASSERT_TRUE(faces_.load().has_value());
    const SurfaceTarget target{display_, window_, XDefaultVisual(display_, screen),
                               XDefaultColormap(display_, screen), XDefaultDepth(display_, screen)};
    auto surface = DrawingSurface::create(target, faces_, Size{kWidth, kHeight});
    ASSERT_TRUE(surface.has_value()) << surface.error();
    surface_ = std::move(*surface);
  }

  void TearDown() override {
    surface_.reset();
    if (display_) XCloseDisplay(display_);
  }

  // The text alone on the background, read back from the window.
  Picture text_picture(std::string_view text, FontRole role, std::int32_t x = 10) {
    surface_->fill_rect(Rect{0, 0, kWidth, kHeight}, palette::kBackground);
    surface_->draw_text(x, 60, text, palette::kText, role);
    return read_back(Rect{0, 0, kWidth, kHeight});
  }

  Picture read_back(Rect area) {
    surface_->present();
    XSync(display_, False);
    Picture picture{area.width, {}};
    XImage* image = XGetImage(display_, window_, area.x, area.y, static_cast<unsigned>(area.width),
                              static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (!image) return picture;
    for (int y = 0; y < area.height; ++y) {
      for (int x = 0; x < area.width; ++x) picture.pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
    }
    XDestroyImage(image);
    return picture;
  }

  // First and one past the last column holding any pixel other than `background`.
  static std::pair<int, int> ink_columns(const Picture& picture, Colour background = palette::kBackground) {
    int first = picture.width;
    int end = 0;
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
      if (picture.pixels[i] == background) continue;
      const int column = static_cast<int>(i % static_cast<std::size_t>(picture.width));
      first = std::min(first, column);
      end = std::max(end, column + 1);
    }
    return {first, end};
  }

  XvfbSession server_;
  Display* display_ = nullptr;
  Window window_ = 0;
  FontFaces faces_;
  std::unique_ptr<DrawingSurface> surface_;
};

struct Script {
  const char* name;
  const char* first;   // one character the embedded faces lack
  const char* second;  // another one of the same script
};

// Chinese, Japanese kana, Korean, Arabic and Hebrew.
constexpr Script kScripts[] = {
    {"Chinese", "\xE4\xB8\xAD", "\xE6\x96\x87"},
    {"Japanese", "\xE3\x81\x82", "\xE3\x82\xAB"},
    {"Korean", "\xED\x95\x9C", "\xEA\xB8\x80"},
    {"Arabic", "\xD9\x85", "\xD9\x84"},
    {"Hebrew", "\xD7\x90", "\xD7\xA9"},
};

TEST_F(FontFallbackTest, EveryScriptIsDrawnWithGlyphsNotTheEmbeddedBox) {
  for (const FontRole role : {FontRole::Mono13, FontRole::Sans16, FontRole::Display34}) {
    const Picture box = text_picture(kNoFontHasIt, role);
    for (const Script& script : kScripts) {
      SCOPED_TRACE(std::string(script.name) + " in " + std::string(font_role_name(role)));
      const char32_t code_point = utf8_step(script.first, 0).code_point;
      EXPECT_NE(surface_->fallback().font_for(role, code_point), surface_->fallback().primary(role));
      EXPECT_GT(surface_->measure_text(script.first, role), 0);
      const Picture first = text_picture(script.first, role);
      const Picture second = text_picture(script.second, role);
      EXPECT_NE(first, box);
      // Boxes all look alike; real glyphs of two characters do not.
      EXPECT_NE(first, second);
      EXPECT_LT(ink_columns(first).first, ink_columns(first).second) << "nothing was drawn";
    }
  }
}

TEST_F(FontFallbackTest, SystemFontsKeepTheSlotsStyleWherePossible) {
  const char32_t alef = 0x0627;  // DejaVu has it upright in sans, mono and bold
  auto integer = [](XftFont* font, const char* object) {
    int value = -1;
    FcPatternGetInteger(font->pattern, object, 0, &value);
    return value;
  };
  FontFallback& fallback = surface_->fallback();
  EXPECT_EQ(integer(fallback.font_for(FontRole::Mono13, alef), FC_SPACING), FC_MONO);
  EXPECT_GE(integer(fallback.font_for(FontRole::Display34, alef), FC_WEIGHT), FC_WEIGHT_BOLD);
  EXPECT_LT(integer(fallback.font_for(FontRole::Sans16, alef), FC_WEIGHT), FC_WEIGHT_BOLD);
  double pixel_size = 0;
  FcPatternGetDouble(fallback.font_for(FontRole::Sans23, 0x4E2D)->pattern, FC_PIXEL_SIZE, 0, &pixel_size);
  EXPECT_DOUBLE_EQ(pixel_size, 23);
}

TEST_F(FontFallbackTest, ACharacterNoFontHasIsAVisibleBox) {
  for (std::size_t slot = 0; slot < kFontRoleCount; ++slot) {
    const auto role = static_cast<FontRole>(slot);
    SCOPED_TRACE(font_role_name(role));
    EXPECT_EQ(surface_->fallback().font_for(role, 0x10FFFD), surface_->fallback().primary(role));
    const std::int32_t width = surface_->measure_text(kNoFontHasIt, role);
    EXPECT_GT(width, 0);
    const auto [first, end] = ink_columns(text_picture(kNoFontHasIt, role));
    EXPECT_GE(first, 10);
    EXPECT_LE(end, 10 + width + 1);
    EXPECT_GE(end - first, width / 3) << "the box is not visible";
  }
}

TEST_F(FontFallbackTest, MixedTextMeasuresAndDrawsAsItsRunsOneAfterAnother) {
  const std::vector<std::string> runs = {"report_", "\xE6\x8A\xA5\xE5\x91\x8A", "_",
                                         "\xD8\xAA\xD9\x82\xD8\xB1\xD9\x8A\xD8\xB1", ".txt"};
  std::string whole;
  for (const std::string& run : runs) whole += run;
  for (const FontRole role : {FontRole::Mono13, FontRole::Sans23}) {
    SCOPED_TRACE(font_role_name(role));
    std::int32_t sum = 0;
    surface_->fill_rect(Rect{0, 0, kWidth, kHeight}, palette::kBackground);
    for (const std::string& run : runs) {
      surface_->draw_text(10 + sum, 60, run, palette::kText, role);
      sum += surface_->measure_text(run, role);
    }
    const Picture piece_by_piece = read_back(Rect{0, 0, kWidth, kHeight});
    EXPECT_EQ(surface_->measure_text(whole, role), sum);
    EXPECT_EQ(text_picture(whole, role), piece_by_piece);
    EXPECT_LE(ink_columns(piece_by_piece).second, 10 + sum + 1);
  }
}

TEST_F(FontFallbackTest, AFieldPlacesItsCursorAfterTheDrawnCharacters) {
  // Wider than the field, so it also scrolls by the measured widths.
  std::string name;
  for (char32_t c = 0x6587; c < 0x6587 + 40; ++c) append_utf8(name, c);
  const Rect field{20, 30, 300, 40};
  const TextFieldView view{.text = name, .cursor = name.size(), .focused = true};
  surface_->fill_rect(Rect{0, 0, kWidth, kHeight}, palette::kBackground);
  draw_text_field(*surface_, field, view);
  const Picture drawn = read_back(Rect{field.x + 7, field.y + 2, field.width - 14, field.height - 4});
  server_.run("import -window root " + artefact_path("font-fallback-field.png") + " 2>/dev/null");

  // The cursor is the accent column; the glyphs end just before it.
  int cursor = -1;
  int glyph_end = 0;
  for (std::size_t i = 0; i < drawn.pixels.size(); ++i) {
    const int column = static_cast<int>(i % static_cast<std::size_t>(drawn.width));
    if (drawn.pixels[i] == palette::kAccentBright) cursor = column;
    else if (drawn.pixels[i] != palette::kControl) glyph_end = std::max(glyph_end, column + 1);
  }
  ASSERT_GE(cursor, 0);
  EXPECT_LE(glyph_end, cursor + 1);
  EXPECT_GE(glyph_end, cursor - 4) << "the cursor stands apart from the text it follows";
  EXPECT_GT(text_field_first_visible(*surface_, field, view), 0u);
}

TEST_F(FontFallbackTest, FontconfigIsAskedOncePerBlockAndNeverForCoveredAscii) {
  FontFallback& fallback = surface_->fallback();
  surface_->measure_text("plain_ascii-name (1).txt", FontRole::Mono13);
  EXPECT_EQ(fallback.system_queries(), 0u);
  // 2,048 ideographs over eight blocks of 256.
  std::string listing;
  for (char32_t c = 0x4E00; c < 0x4E00 + 2048; ++c) append_utf8(listing, c);
  const std::int32_t width = surface_->measure_text(listing, FontRole::Mono13);
  EXPECT_GT(width, 2048 * 8);
  const std::size_t after_first = fallback.system_queries();
  EXPECT_LE(after_first, 8u);
  surface_->draw_text(0, 60, listing, palette::kText, FontRole::Mono13);
  surface_->measure_text(std::string(kNoFontHasIt) + kNoFontHasIt, FontRole::Mono13);
  surface_->measure_text(kNoFontHasIt, FontRole::Mono13);
  EXPECT_EQ(fallback.system_queries(), after_first + 1) << "an uncovered character is asked for once";
}

}  // namespace
}  // namespace tarnwick::testing
