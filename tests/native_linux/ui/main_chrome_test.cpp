// The header and footer frames, tall and short, and the pictures behind the logo and icon.
#include <gtest/gtest.h>

#include "native_linux/ui/canvas.h"
#include "native_linux/ui/main_chrome.h"
#include "native_linux/ui/pictures.h"

namespace tarnwick {
namespace {

TEST(MainChromeTest, TallHeaderAndFooter) {
  RecordingCanvas canvas;
  draw_main_header(canvas, Size{1100, 810});
  draw_main_footer(canvas, Size{1100, 810});
  EXPECT_EQ(canvas.dump(),
            "fill 0 0 1100 810 #0A0B0E\n"
            "fill 0 0 1100 3 #D72B42\n"
            "image logo 22 20\n"
            "text 158 54 Sans23 #EC4D66 \"Tarn\"\n"
            "text 210 54 Sans23 #F3F0EF \"wick\"\n"  // right after "Tarn" (4 x 13 px)
            "text 157 91 Display34 #F3F0EF \"RECURSIVE \"\n"
            "text 327 91 Display34 #EC4D66 \"RENAMES\"\n"  // right after "RECURSIVE " (10 x 17 px)
            "text 159 112 Mono11 #9B9DAD \"ONE REPLACEMENT. EVERY MATCH.\"\n"
            "text 856 45 Mono11 #64D4A5 \"LOCAL PROCESSING\"\n"
            "text 856 65 Mono11 #9B9DAD \"NO TELEMETRY \xC2\xB7 NO HISTORY\"\n"
            "text 856 87 Mono11 #9B9DAD \"v1.4.0\"\n"
            "line 20 130 1080 130 #30323D\n"
            "line 20 775 1080 775 #30323D\n"
            "text 814 794 Mono11 #9B9DAD \"PRIVATE BY DESIGN \xC2\xB7 NO ACTIVITY LOGS\"\n");
  EXPECT_TRUE(canvas.hit_regions().empty());
}

TEST(MainChromeTest, ShortLayoutDropsThePromiseAndRaisesTheRule) {
  RecordingCanvas tall_enough;
  draw_main_header(tall_enough, Size{850, 780});
  EXPECT_NE(tall_enough.dump().find("line 20 130 830 130"), std::string::npos);

  RecordingCanvas canvas;
  draw_main_header(canvas, Size{850, 779});
  const std::string dump = canvas.dump();
  EXPECT_EQ(dump.find("ONE REPLACEMENT"), std::string::npos);
  EXPECT_NE(dump.find("line 20 110 830 110 #30323D\n"), std::string::npos);
  EXPECT_NE(dump.find("text 606 45 Mono11"), std::string::npos);
}

TEST(PicturesTest, IconPropertyIsSizeThenArgbPerPixel) {
  std::vector<std::uint8_t> rgba(kIconSize * kIconSize * 4, 0);
  rgba[0] = 0x11, rgba[1] = 0x22, rgba[2] = 0x33, rgba[3] = 0xFF;  // first pixel
  rgba[rgba.size() - 4] = 0xAB, rgba[rgba.size() - 1] = 0x80;      // last pixel: red, half alpha
  const std::vector<long> items = icon_property(rgba);
  ASSERT_EQ(items.size(), 4098u);
  EXPECT_EQ(items[0], 64);
  EXPECT_EQ(items[1], 64);
  EXPECT_EQ(static_cast<unsigned long>(items[2]), 0xFF112233ul);  // high alpha stays unsigned in a 64-bit long
  EXPECT_EQ(static_cast<unsigned long>(items[4097]), 0x80AB0000ul);
  EXPECT_EQ(items[3], 0);
}

TEST(PicturesTest, LogoTakesTopLeftOfEachBlockBlendedOverTheBackground) {
  std::vector<std::uint8_t> rgba(kLogoSourceWidth * kLogoSourceHeight * 4, 0);
  const auto set = [&](int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    std::uint8_t* p = &rgba[(static_cast<std::size_t>(y) * kLogoSourceWidth + x) * 4];
    p[0] = r, p[1] = g, p[2] = b, p[3] = a;
  };
  set(0, 0, 255, 255, 255, 255);   // opaque white
  set(1, 1, 255, 255, 255, 255);   // not a top-left pixel: ignored
  set(2, 0, 255, 0, 0, 128);       // half-transparent red
  set(238, 150, 0, 0, 255, 255);   // last block
  const std::vector<std::uint32_t> pixels = logo_pixels(rgba);
  ASSERT_EQ(pixels.size(), static_cast<std::size_t>(kLogoWidth * kLogoHeight));
  EXPECT_EQ(pixels[0], 0xFFFFFFu);
  EXPECT_EQ(pixels[1], (255u * 128 + 10 * 127) / 255 << 16 | (11u * 127 / 255) << 8 | (14u * 127 / 255));
  EXPECT_EQ(pixels[kLogoWidth + 1], 0x0A0B0Eu);  // transparent: the background
  EXPECT_EQ(pixels.back(), 0x0000FFu);
  EXPECT_TRUE(logo_pixels(std::vector<std::uint8_t>(10)).empty());  // a wrong size is no logo
}

TEST(PicturesTest, DrawnPicturesHaveTransparentCornersAndAnOpaqueCentre) {
  const std::vector<std::uint8_t> logo = logo_rgba();
  ASSERT_EQ(logo.size(), static_cast<std::size_t>(kLogoSourceWidth * kLogoSourceHeight * 4));
  EXPECT_EQ(logo[3], 0);
  EXPECT_EQ(logo[((76 * kLogoSourceWidth) + 120) * 4 + 3], 255);
  const std::vector<std::uint8_t> icon = icon_rgba();
  ASSERT_EQ(icon.size(), static_cast<std::size_t>(kIconSize * kIconSize * 4));
  EXPECT_EQ(icon[3], 0);
  EXPECT_EQ(icon[((32 * kIconSize) + 32) * 4 + 3], 255);
}

}  // namespace
}  // namespace tarnwick
