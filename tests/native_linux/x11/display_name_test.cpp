// The DISPLAY table: the accepted local forms and each refusal with its message.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "native_linux/x11/display_name.h"

namespace tarnwick {
namespace {

constexpr const char* kUnset = "Open this app from a local X11 desktop.";
constexpr const char* kRemote = "A local Unix X11 display is required; remote displays are disabled.";
constexpr const char* kInvalid = "The local X11 display name is invalid.";

struct DisplayCase {
  std::optional<std::string> value;
  const char* refusal;  // nullptr when accepted
  friend void PrintTo(const DisplayCase& c, std::ostream* out) {
    *out << (c.value ? ::testing::PrintToString(*c.value) : "(unset)");
  }
};

class DisplayNameTest : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayNameTest, ValidatesLocalDisplays) {
  const DisplayCase& c = GetParam();
  const auto result = validate_display_name(c.value ? std::optional<std::string_view>(*c.value) : std::nullopt);
  if (c.refusal == nullptr) {
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_EQ(*result, *c.value);  // handed to XOpenDisplay whole, prefix included
  } else {
    ASSERT_FALSE(result.has_value()) << *result;
    EXPECT_EQ(result.error(), c.refusal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DisplayNameTest,
    ::testing::Values(DisplayCase{":0", nullptr}, DisplayCase{":0.0", nullptr}, DisplayCase{"unix:1", nullptr},
                      DisplayCase{"unix/:12.3", nullptr}, DisplayCase{":99999.99999", nullptr},
                      DisplayCase{std::nullopt, kUnset}, DisplayCase{std::string("\xFF:0"), kUnset},
                      DisplayCase{":0\xC3", kUnset}, DisplayCase{"", kRemote}, DisplayCase{"localhost:0", kRemote},
                      DisplayCase{"host/unix:0", kRemote}, DisplayCase{"0", kRemote}, DisplayCase{"unix", kRemote},
                      DisplayCase{":", kInvalid}, DisplayCase{":0.", kInvalid}, DisplayCase{":.0", kInvalid},
                      DisplayCase{":123456", kInvalid}, DisplayCase{":0.123456", kInvalid},
                      DisplayCase{":0.1.2", kInvalid}, DisplayCase{":a", kInvalid}, DisplayCase{":0.a", kInvalid},
                      DisplayCase{"unix:", kInvalid}, DisplayCase{"unix/:x", kInvalid},
                      DisplayCase{std::string(":0\0", 3), kInvalid}, DisplayCase{": 0", kInvalid},
                      DisplayCase{":+1", kInvalid}, DisplayCase{":\xD9\xA1", kInvalid}));  // Arabic digit one

}  // namespace
}  // namespace tarnwick
