// The text screen's AVX2 form against the narrow one on every byte that
// matters, at every placement around its 64-byte rounds.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/memory.h"
#include "content/classify.h"
#include "text_codec/text_codec.h"

namespace tarnwick {
namespace {

TEST(TextScreen, WideAndNarrowFormsAgreeAtEveryPlacement) {
  // Both forms answer through passes_text_screen's dispatch only on AVX2 machines.
  if (!cpu_has_avx2()) GTEST_SKIP() << "this processor has no AVX2";
  std::mt19937 random(65);
  for (int byte = 0; byte < 256; ++byte) {
    for (const int next : {0x20, 0x80, 0x9F, 0xA0, 0xBF}) {
      for (std::size_t at = 0; at < 140; ++at) {
        std::string text(at, 'a');
        text += static_cast<char>(byte);
        text += static_cast<char>(next);
        text.append(random() % 80, 'b');
        ASSERT_EQ(passes_text_screen(text), passes_text_screen_narrow(text)) << byte << " at " << at;
      }
    }
  }
  // The narrow form itself: TAB, LF, FF and CR pass; VT, DEL and C1 controls do not.
  EXPECT_TRUE(passes_text_screen_narrow("a\tb\nc\fd\re \xC2\xA0"));
  using namespace std::string_literals;
  for (const std::string& refused : {"\x0B"s, "\x7F"s, "\x00"s, "\xC2\x80"s, "\xC2\x9F"s})
    EXPECT_FALSE(passes_text_screen_narrow(std::string(70, 'a') + refused)) << testing::PrintToString(refused);
}

// plan_content_edit screens Auto-decoded text only for the vertical tab, on
// the ground that Auto returns nothing else the text screen refuses: every
// form Auto can find, with every kind of character the screens look at.
TEST(TextScreen, AfterAutoDetectionOnlyTheVerticalTabIsLeftToRefuse) {
  using namespace std::string_literals;
  const std::string pieces[] = {"text ", "\t\n\f\r", "\x0B", "\x01", "\x7F", "\xC2\x85", "\xC2\xA0",
                                "\xEF\xB7\x90", "\xEF\xBF\xBE", "\xE9", "\x00"s, "\xEF\xBB\xBF", "\xFF\xFE"};
  std::mt19937 random(1252);
  int decoded_count = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    for (int i = random() % 6; i > 0; --i) bytes += pieces[random() % std::size(pieces)];
    if (round % 3 == 0) {  // as UTF-16 LE without a mark: ASCII pieces widened
      std::string wide;
      for (const char c : bytes) wide += std::string{c, '\0'};
      bytes = wide;
    }
    const auto decoded = decode_text_view(bytes, EncodingChoice{});
    if (!decoded) continue;
    ++decoded_count;
    const std::string_view text = decoded->text();
    ASSERT_EQ(passes_text_screen(text), text.find('\v') == std::string_view::npos) << testing::PrintToString(bytes);
  }
  EXPECT_GT(decoded_count, 1000);
}

}  // namespace
}  // namespace tarnwick
