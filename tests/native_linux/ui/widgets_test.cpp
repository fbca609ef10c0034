// Frames of the widgets through the recording canvas: geometry, colours, regions.
#include <gtest/gtest.h>

#include <string>

#include "native_linux/ui/canvas.h"

namespace tarnwick {
namespace {

TEST(RecordingCanvasTest, DegenerateShapesAndEmptyTextDrawNothing) {
  RecordingCanvas canvas;
  canvas.fill_rect(Rect{0, 0, 0, 5}, palette::kText);
  canvas.fill_rect(Rect{0, 0, 5, -1}, palette::kText);
  canvas.outline_rect(Rect{0, 0, 1, 10}, palette::kText);
  canvas.draw_text(1, 2, "", palette::kText, FontRole::Mono13);
  EXPECT_EQ(canvas.dump(), "");
  EXPECT_EQ(canvas.measure_text("", FontRole::Sans23), 0);

  canvas.fill_rect(Rect{3, 4, 1, 10}, palette::kAccent);  // width 1 fills but does not outline
  canvas.outline_rect(Rect{3, 4, 2, 2}, palette::kBorder);
  EXPECT_EQ(canvas.dump(), "fill 3 4 1 10 #D72B42\noutline 3 4 2 2 #30323D\n");
}

TEST(RecordingCanvasTest, MeasuresCodePointsAndShowsInvalidBytesAsReplacement) {
  RecordingCanvas canvas;
  EXPECT_EQ(canvas.measure_text("abc", FontRole::Mono13), 24);
  EXPECT_EQ(canvas.measure_text("\xC3\xA9", FontRole::Mono11), 7);  // é is one character
  EXPECT_EQ(canvas.measure_text("a\xFF", FontRole::Sans16), 18);    // stray byte counts as U+FFFD
  canvas.draw_text(5, 6, "a\xFF\"", palette::kText, FontRole::Display34);
  EXPECT_EQ(canvas.dump(), "text 5 6 Display34 #F3F0EF \"a\xEF\xBF\xBD\\\"\"\n");
}

TEST(HitRegionTest, FirstRegionInRegistrationOrderWinsAndOverlayRestartsTheList) {
  RecordingCanvas canvas;
  canvas.begin_frame();
  canvas.add_hit_region(HitRegion{Rect{0, 0, 100, 100}, 1, 0});
  canvas.add_hit_region(HitRegion{Rect{50, 50, 100, 100}, 2, 7});
  ASSERT_EQ(hit_test(canvas.hit_regions(), 60, 60)->action, 1);
  ASSERT_EQ(hit_test(canvas.hit_regions(), 120, 120)->payload, 7u);
  EXPECT_FALSE(hit_test(canvas.hit_regions(), 100, 150 + 1).has_value());
  EXPECT_FALSE(hit_test(canvas.hit_regions(), 150, 150).has_value());  // right and bottom edges are outside

  // A dialog drawn over the screen: only its controls stay clickable.
  canvas.begin_overlay();
  draw_button(canvas, Rect{40, 40, 80, 30}, ButtonView{.label = "OK", .action = 24});
  ASSERT_EQ(canvas.hit_regions().size(), 1u);
  EXPECT_EQ(hit_test(canvas.hit_regions(), 60, 60)->action, 24);
  EXPECT_FALSE(hit_test(canvas.hit_regions(), 10, 10).has_value());
  EXPECT_NE(canvas.dump().find("overlay\n"), std::string::npos);

  canvas.begin_frame();
  EXPECT_TRUE(canvas.hit_regions().empty());
}

TEST(HitRegionTest, RectangleNearTheIntegerEdgeDoesNotWrap) {
  const Rect rect{INT32_MAX - 5, 0, INT32_MAX, 10};
  EXPECT_TRUE(rect.contains(INT32_MAX - 1, 5));
  EXPECT_FALSE(rect.contains(INT32_MIN, 5));
}

TEST(TextClipTest, NestedClipsIntersectAndPopRestores) {
  RecordingCanvas canvas;
  canvas.push_text_clip(Rect{0, 0, 100, 100});
  canvas.push_text_clip(Rect{50, 80, 100, 100});
  canvas.push_text_clip(Rect{500, 500, 10, 10});  // disjoint: nothing of it may show
  canvas.pop_text_clip();
  canvas.pop_text_clip();
  canvas.pop_text_clip();
  canvas.pop_text_clip();  // an extra pop is harmless
  EXPECT_EQ(canvas.dump(),
            "clip 0 0 100 100\nclip 50 80 50 20\nclip 500 500 0 0\nclip 50 80 50 20\nclip 0 0 100 100\nclip none\n");
}

TEST(ButtonTest, PrimaryNormalAndDisabledColoursAndCentredLabel) {
  RecordingCanvas canvas;
  draw_button(canvas, Rect{36, 711, 166, 36},
              ButtonView{.label = "Preview changes", .action = 19, .style = ButtonStyle::Primary});
  EXPECT_EQ(canvas.dump(),
            "fill 36 711 166 36 #D72B42\n"
            "outline 36 711 166 36 #D72B42\n"
            "text 59 734 Mono13 #F3F0EF \"Preview changes\"\n"  // 36 + (166 - 120) / 2
            "region 36 711 166 36 action=19 payload=0\n");

  RecordingCanvas disabled;
  draw_button(disabled, Rect{0, 0, 40, 30},
              ButtonView{.label = "A long label", .action = 3, .enabled = false, .style = ButtonStyle::Primary});
  EXPECT_EQ(disabled.dump(),
            "fill 0 0 40 30 #1A1B22\n"
            "outline 0 0 40 30 #30323D\n"
            "text 5 20 Mono13 #626471 \"A long label\"\n");  // never left of x + 5; no region
}

TEST(CheckboxTest, CheckedUncheckedAndDisabled) {
  RecordingCanvas checked;
  draw_checkbox(checked, 36, 401, CheckboxView{.label = "Match case", .checked = true, .action = 8});
  EXPECT_EQ(checked.dump(),
            "fill 36 401 18 18 #D72B42\n"
            "outline 36 401 18 18 #D72B42\n"
            "line 40 410 44 414 #F3F0EF\n"
            "line 44 414 50 406 #F3F0EF\n"
            "text 65 415 Mono13 #F3F0EF \"Match case\"\n"
            "region 36 401 109 23 action=8 payload=0\n");

  RecordingCanvas disabled;
  draw_checkbox(disabled, 0, 0, CheckboxView{.label = "Off", .action = 10, .enabled = false});
  EXPECT_EQ(disabled.dump(),
            "fill 0 0 18 18 #1A1B22\n"
            "outline 0 0 18 18 #30323D\n"
            "text 29 14 Mono13 #9B9DAD \"Off\"\n");
}

TEST(TextFieldTest, UnfocusedEmptyFieldShowsPlaceholderAndRegistersFocusAction) {
  RecordingCanvas canvas;
  draw_text_field(canvas, Rect{36, 182, 892, 40},
                  TextFieldView{.placeholder = "Enter the full path to a file or folder", .field_id = 0});
  EXPECT_EQ(canvas.dump(),
            "fill 36 182 892 40 #1A1B22\n"
            "outline 36 182 892 40 #30323D\n"
            "clip 43 184 878 36\n"
            "text 45 207 Mono13 #9B9DAD \"Enter the full path to a file or folder\"\n"
            "clip none\n"
            "region 36 182 892 40 action=0 payload=0\n");
}

TEST(TextFieldTest, FocusedSelectedFieldDrawsHighlightAndCursor) {
  RecordingCanvas canvas;
  draw_text_field(canvas, Rect{20, 297, 200, 40},
                  TextFieldView{.text = "Tarn", .cursor = 2, .focused = true, .whole_text_selected = true,
                                .field_id = 1});
  EXPECT_EQ(canvas.dump(),
            "fill 20 297 200 40 #1A1B22\n"
            "outline 20 297 200 40 #EC4D66\n"
            "fill 25 302 190 30 #54303C\n"
            "clip 27 299 186 36\n"
            "text 29 322 Mono13 #F3F0EF \"Tarn\"\n"
            "clip none\n"
            "line 45 306 45 328 #EC4D66\n"
            "region 20 297 200 40 action=0 payload=1\n");
}

TEST(TextFieldTest, DisabledAndInvalidFields) {
  RecordingCanvas disabled;
  draw_text_field(disabled, Rect{0, 0, 100, 30}, TextFieldView{.text = "x", .focused = true, .enabled = false});
  EXPECT_EQ(disabled.dump(),
            "fill 0 0 100 30 #1A1B22\n"
            "outline 0 0 100 30 #30323D\n"
            "clip 7 2 86 26\n"
            "text 9 20 Mono13 #646674 \"x\"\n"
            "clip none\n");

  RecordingCanvas invalid;
  draw_text_field(invalid, Rect{0, 0, 60, 33}, TextFieldView{.text = "", .placeholder = "0", .invalid = true});
  EXPECT_NE(invalid.dump().find("outline 0 0 60 33 #E6B66C\n"), std::string::npos);
}

// Width 102 leaves 80 px = 10 Mono13 characters visible.
TEST(TextFieldTest, HorizontalScrollingFollowsTheCursor) {
  RecordingCanvas canvas;
  const Rect rect{0, 0, 102, 30};
  const std::string text = "0123456789abcdefghij";
  TextFieldView field{.text = text, .cursor = text.size(), .focused = true};
  EXPECT_EQ(text_field_first_visible(canvas, rect, field), 10u);  // the end shows
  field.cursor = 0;
  EXPECT_EQ(text_field_first_visible(canvas, rect, field), 0u);  // the start shows
  field.cursor = 15;
  EXPECT_EQ(text_field_first_visible(canvas, rect, field), 5u);
  field.focused = false;  // unfocused fields show their end
  EXPECT_EQ(text_field_first_visible(canvas, rect, field), 10u);
  field.text = "0123456789";  // exactly fits
  EXPECT_EQ(text_field_first_visible(canvas, rect, field), 0u);

  // Multi-byte characters: the first visible byte is always a character boundary.
  const std::string accents = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9x";
  TextFieldView wide{.text = accents, .cursor = accents.size(), .focused = true};
  EXPECT_EQ(text_field_first_visible(canvas, rect, wide), 4u);  // 12 characters, last 10 show

  draw_text_field(canvas, rect, TextFieldView{.text = text, .cursor = 15, .focused = true});
  EXPECT_NE(canvas.dump().find("text 9 20 Mono13 #F3F0EF \"56789abcdefghij\"\n"), std::string::npos);
  EXPECT_NE(canvas.dump().find("line 89 9 89 21 #EC4D66\n"), std::string::npos);  // 9 + 10 × 8
}

TEST(ScrollBarTest, ThumbGeometry) {
  EXPECT_EQ(scroll_thumb(100, 40, 10, 0), (ScrollThumb{0, 25}));
  EXPECT_EQ(scroll_thumb(100, 40, 10, 30), (ScrollThumb{75, 25}));
  EXPECT_EQ(scroll_thumb(100, 40, 10, 15), (ScrollThumb{37, 25}));
  EXPECT_EQ(scroll_thumb(100, 40, 10, 999), (ScrollThumb{75, 25}));           // past the end is clamped
  EXPECT_EQ(scroll_thumb(100, 100000, 10, 0), (ScrollThumb{0, 12}));          // minimum length
  EXPECT_EQ(scroll_thumb(100, 100000, 10, 99990), (ScrollThumb{88, 12}));
  EXPECT_EQ(scroll_thumb(8, 100, 10, 90), (ScrollThumb{0, 8}));               // never longer than the track
  EXPECT_EQ(scroll_thumb(8192, UINT64_MAX, UINT64_MAX - 1, UINT64_MAX), (ScrollThumb{1, 8191}));

  RecordingCanvas canvas;
  draw_scroll_bar(canvas, Rect{10, 20, 300, 100}, 10, 10, 0);  // everything fits: no bar
  EXPECT_EQ(canvas.dump(), "");
  draw_scroll_bar(canvas, Rect{10, 20, 300, 100}, 40, 10, 30);
  EXPECT_EQ(canvas.dump(), "fill 307 20 3 100 #30323D\nfill 307 95 3 25 #9B9DAD\n");
}

struct WrapCase {
  std::string name;
  std::string text;
  std::size_t columns;
  std::vector<std::string> lines;
  friend void PrintTo(const WrapCase& c, std::ostream* out) { *out << c.name; }
};

class WrapTextTest : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapTextTest, Wraps) { EXPECT_EQ(wrap_text(GetParam().text, GetParam().columns), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(
    Table, WrapTextTest,
    ::testing::Values(WrapCase{"Empty", "", 10, {""}},
                      WrapCase{"ExactWidthMakesOneLine", "abcd", 4, {"abcd"}},
                      WrapCase{"CutAtColumnsWithoutWordBreaking", "hello world", 4, {"hell", "o wo", "rld"}},
                      WrapCase{"LineFeedsAndCarriageReturns", "a\r\nb\n\nc\n", 10, {"a", "b", "", "c", ""}},
                      WrapCase{"TabsBecomeFourSpaces", "\tx", 3, {"   ", " x"}},
                      WrapCase{"ControlsDropped", "a\x01\x7F" "b\xC2\x85" "c\rd", 10, {"abcd"}},
                      WrapCase{"CountsCodePointsNotBytes", "\xC3\xA9\xC3\xA9\xC3\xA9", 2,
                               {"\xC3\xA9\xC3\xA9", "\xC3\xA9"}},
                      WrapCase{"InvalidBytesShowAsReplacement", "a\xFF", 1, {"a", "\xEF\xBF\xBD"}},
                      WrapCase{"ZeroColumnsActsAsOne", "ab", 0, {"a", "b"}}),
    [](const ::testing::TestParamInfo<WrapCase>& param_info) { return param_info.param.name; });

// Wide characters drawn by fallback fonts (13 px where the columns assume 8)
// end the line before it runs past the area the columns stand for.
TEST(WrapTextMeasured, WideCharactersEndLinesByWidthAndNarrowTextByColumns) {
  RecordingCanvas canvas;
  for (const char32_t wide : {U'\u6F22', U'\u5B57'}) canvas.set_code_point_advance(wide, 13);
  // 10 columns: 80 pixels, six of the wide characters (78 px).
  EXPECT_EQ(wrap_text(canvas, "漢字漢字漢字漢字", 10, FontRole::Mono13),
            (std::vector<std::string>{"漢字漢字漢字", "漢字"}));
  EXPECT_EQ(wrap_text(canvas, "ab漢字漢字漢字漢字", 10, FontRole::Mono13),
            (std::vector<std::string>{"ab漢字漢字", "漢字漢字"}));
  EXPECT_EQ(wrap_text(canvas, "hello world\tx", 4, FontRole::Mono13), wrap_text("hello world\tx", 4))
      << "text at the column advance wraps as by columns alone";
  // A narrower face holds more characters, yet never more than the columns.
  EXPECT_EQ(wrap_text(canvas, "abcdefghijkl", 10, FontRole::Mono11),
            (std::vector<std::string>{"abcdefghij", "kl"}));
  canvas.set_code_point_advance(U'\u5B57', 200);
  EXPECT_EQ(wrap_text(canvas, "a字b", 10, FontRole::Mono13), (std::vector<std::string>{"a", "字", "b"}))
      << "a character wider than the line still takes one";
}

}  // namespace
}  // namespace tarnwick
