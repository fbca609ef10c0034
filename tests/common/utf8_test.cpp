// The one UTF-8 decoder behind validation, display and the screens: strict about
// what is a character, and exact about how far an invalid subpart reaches.
#include "common/utf8.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

struct StepCase {
  const char* name;
  std::string bytes;
  bool valid;
  unsigned length;  // of the character, or of the maximal invalid subpart
};

class Utf8Steps : public ::testing::TestWithParam<StepCase> {};

TEST_P(Utf8Steps, StrictDecodingAndTheMaximalSubpart) {
  const StepCase& c = GetParam();
  const Utf8Step step = utf8_step(c.bytes, 0);
  EXPECT_EQ(step.valid, c.valid);
  EXPECT_EQ(step.length, c.length);
  EXPECT_EQ(decode_utf8_at(c.bytes, 0).has_value(), c.valid);
  // The vectorised validator agrees, also when the sequence sits past a whole chunk of ASCII.
  EXPECT_EQ(is_valid_utf8(c.bytes), c.valid && c.length == c.bytes.size());
  EXPECT_EQ(is_valid_utf8(std::string(40, 'a') + c.bytes), c.valid && c.length == c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Steps,
    ::testing::Values(StepCase{"ascii", "A", true, 1}, StepCase{"two_bytes", "\xC3\xA9", true, 2},
                      StepCase{"four_bytes", "\xF0\x9D\x84\x9E", true, 4},
                      StepCase{"overlong_nul", "\xC0\x80", false, 1}, StepCase{"overlong_three", "\xE0\x80\x80", false, 1},
                      StepCase{"surrogate", "\xED\xA0\x80", false, 1}, StepCase{"above_range", "\xF4\x90\x80\x80", false, 1},
                      StepCase{"lone_continuation", "\x80", false, 1}, StepCase{"truncated_three", "\xE2\x82", false, 2},
                      StepCase{"broken_four", "\xF0\x9D\x84" "A", false, 3}),
    [](const ::testing::TestParamInfo<StepCase>& param_info) { return param_info.param.name; });

TEST(Utf8, LossyFormReplacesEachMaximalSubpartOnce) {
  EXPECT_EQ(lossy_utf8("a\xE2\x82" "b\xC0\x80" "c"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD" "c");
  EXPECT_EQ(lossy_utf8("\xF0\x9D\x84"), "\xEF\xBF\xBD");
  EXPECT_EQ(lossy_utf8("gr\xC3\xBC\xC3\x9F"), "gr\xC3\xBC\xC3\x9F");
}

TEST(Utf8, BoundariesWhiteSpaceAndControls) {
  const std::string text = "a\xC3\xA9\xF0\x9D\x84\x9E";  // a, é, 𝄞
  EXPECT_EQ(floor_boundary(text, 2), 1u);
  EXPECT_EQ(previous_boundary(text, 3), 1u);
  EXPECT_EQ(next_boundary(text, 3), 7u);
  EXPECT_EQ(count_code_points(text), 3u);

  EXPECT_EQ(trim_unicode_white_space("\xE3\x80\x80 x\xC2\xA0y\t\xE2\x80\xA8"), "x\xC2\xA0y");
  EXPECT_EQ(trim_unicode_white_space(" \xC0\xA0 "), "\xC0\xA0") << "an overlong space is no space";
  EXPECT_TRUE(contains_control_character("a\xC2\x85"));
  EXPECT_FALSE(contains_control_character("\xC0\x80")) << "an overlong NUL is no character at all";

  std::string name = "R\xC3\x89SUM\xC3\x89.TXT";
  lower_ascii_in_place(name);
  EXPECT_EQ(name, "r\xC3\x89sum\xC3\x89.txt");
}

}  // namespace
}  // namespace tarnwick
