// The Xft drawing surface on a real X server: fonts from memory, measuring in
// pieces, the colour cache, outline geometry, the logo and resizing.
#include <gtest/gtest.h>

#include "xvfb_session.h"
// After gtest: Xlib's macros clash with gtest's names.
#include "native_linux/x11/drawing_surface.h"

namespace tarnwick::testing {
namespace {

class DrawingSurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    display_ = XOpenDisplay(server_.display().c_str());
    ASSERT_NE(display_, nullptr);
    XSetErrorHandler(record_x_error);
    const int screen = XDefaultScreen(display_);
    window_ = XCreateSimpleWindow(display_, XRootWindow(display_, screen), 0, 0, 200, 100, 0, 0, 0);
    XSelectInput(display_, window_, ExposureMask);
    XMapWindow(display_, window_);
    XEvent event;
    XWindowEvent(display_, window_, ExposureMask, &event);  // mapped and viewable
    ASSERT_TRUE(faces_.load().has_value());
    const SurfaceTarget target{display_, window_, XDefaultVisual(display_, screen),
                               XDefaultColormap(display_, screen), XDefaultDepth(display_, screen)};
    auto surface = DrawingSurface::create(target, faces_, Size{200, 100});
    ASSERT_TRUE(surface.has_value()) << surface.error();
    surface_ = std::move(*surface);
  }

  void TearDown() override {
    surface_.reset();
    if (display_) XCloseDisplay(display_);
  }

  // Presents the back buffer and reads one window pixel back.
  unsigned long pixel_after_present(int x, int y) {
    surface_->present();
    XImage* image = XGetImage(display_, window_, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return ~0ul;
    const unsigned long value = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return value;
  }

  XvfbSession server_;
  Display* display_ = nullptr;
  Window window_ = 0;
  FontFaces faces_;
  std::unique_ptr<DrawingSurface> surface_;
};

TEST_F(DrawingSurfaceTest, MeasuresInPiecesOnCharacterBoundaries) {
  EXPECT_EQ(surface_->measure_text("", FontRole::Mono13), 0);
  // The wrap and layout code assume 8 px per Mono13 character.
  EXPECT_EQ(surface_->measure_text("abcdefghij", FontRole::Mono13), 80);
  const std::int32_t euro = surface_->measure_text("\xE2\x82\xAC", FontRole::Mono13);
  ASSERT_GT(euro, 0);
  std::string euros;
  for (int i = 0; i < 300; ++i) euros += "\xE2\x82\xAC";  // 900 bytes: 512 falls inside a character
  EXPECT_EQ(surface_->measure_text(euros, FontRole::Mono13), 300 * euro);
  // Xft would stop at the invalid byte; it is measured as U+FFFD instead.
  EXPECT_EQ(surface_->measure_text("a\xFF" "bc", FontRole::Sans16),
            surface_->measure_text("a\xEF\xBF\xBD" "bc", FontRole::Sans16));
  EXPECT_GT(surface_->measure_text("RENAMES", FontRole::Display34),
            surface_->measure_text("RENAMES", FontRole::Sans16));
}

TEST_F(DrawingSurfaceTest, EachColourIsAllocatedOnceAndEmptyTextAllocatesNothing) {
  surface_->draw_text(5, 20, "", palette::kText, FontRole::Mono13);
  EXPECT_EQ(surface_->cached_colour_count(), 0u);
  surface_->draw_text(5, 20, "one", palette::kText, FontRole::Mono13);
  surface_->draw_text(5, 40, "two", palette::kText, FontRole::Mono11);
  EXPECT_EQ(surface_->cached_colour_count(), 1u);
  surface_->draw_text(5, 60, "three", palette::kAccent, FontRole::Sans23);
  EXPECT_EQ(surface_->cached_colour_count(), 2u);
}

TEST_F(DrawingSurfaceTest, RectanglesOutlinesAndTextReachTheWindow) {
  surface_->fill_rect(Rect{0, 0, 200, 100}, palette::kBackground);
  surface_->outline_rect(Rect{10, 10, 6, 6}, palette::kAccent);
  surface_->outline_rect(Rect{30, 10, 1, 6}, palette::kAccent);  // too thin to outline
  surface_->fill_rect(Rect{40, 10, 1, 6}, palette::kPositive);    // but not to fill
  EXPECT_EQ(pixel_after_present(10, 10), palette::kAccent);
  EXPECT_EQ(pixel_after_present(15, 15), palette::kAccent);  // the outline lies inside
  EXPECT_EQ(pixel_after_present(16, 16), palette::kBackground);
  EXPECT_EQ(pixel_after_present(12, 12), palette::kBackground);
  EXPECT_EQ(pixel_after_present(30, 12), palette::kBackground);
  EXPECT_EQ(pixel_after_present(40, 12), palette::kPositive);

  // Text clipped away leaves the background; unclipped it marks the buffer.
  surface_->fill_rect(Rect{0, 0, 200, 100}, palette::kBackground);
  surface_->push_text_clip(Rect{0, 0, 1, 1});
  surface_->draw_text(50, 60, "\xE2\x96\x88\xE2\x96\x88", palette::kText, FontRole::Sans23);  // full blocks
  surface_->pop_text_clip();
  EXPECT_EQ(pixel_after_present(50 + 5, 60 - 5), palette::kBackground);
  surface_->draw_text(50, 60, "\xE2\x96\x88\xE2\x96\x88", palette::kText, FontRole::Sans23);
  EXPECT_NE(pixel_after_present(50 + 5, 60 - 5), palette::kBackground);
}

TEST_F(DrawingSurfaceTest, LogoIsBuiltAndDrawn) {
  ASSERT_TRUE(surface_->has_logo());
  surface_->fill_rect(Rect{0, 0, 200, 100}, palette::kBackground);
  surface_->draw_image(Image::Logo, 0, 0);
  EXPECT_EQ(pixel_after_present(0, 0), palette::kBackground);  // transparent corner, blended
  EXPECT_NE(pixel_after_present(60, 38), palette::kBackground);
}

TEST_F(DrawingSurfaceTest, ResizeReplacesTheBufferOrKeepsTheOldOne) {
  surface_->resize(Size{1, 1});
  EXPECT_EQ(surface_->size(), (Size{1, 1}));
  surface_->resize(Size{kMaxSurfaceSide, kMaxSurfaceSide});
  const Size after = surface_->size();
  EXPECT_TRUE(after == (Size{kMaxSurfaceSide, kMaxSurfaceSide}) || after == (Size{1, 1}));
  surface_->resize(Size{300, 200});
  EXPECT_EQ(surface_->size(), (Size{300, 200}));
  surface_->fill_rect(Rect{0, 0, 300, 200}, palette::kPanel);
  EXPECT_EQ(pixel_after_present(150, 50), palette::kPanel);
}

}  // namespace
}  // namespace tarnwick::testing
