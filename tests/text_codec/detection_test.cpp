// Byte-order marks, the detection screen, plausibility tests and Auto detection.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "common/text.h"
#include "text_codec/text_codec.h"

namespace tarnwick {
namespace {

using namespace std::string_literals;

TEST(EncodingTable, RowsLabelsAndNames) {
  const auto table = encoding_table();
  ASSERT_EQ(table.size(), 56u);
  EXPECT_EQ(table[0].label, "Auto detect (Unicode / Windows-1252)");
  EXPECT_EQ(encoding_choice_for_row(2), (EncodingChoice{EncodingKind::Utf16Le, 0}));
  EXPECT_EQ(encoding_choice_for_row(6), (EncodingChoice{EncodingKind::CodePage, 1252}));
  EXPECT_EQ(encoding_choice_for_row(55), (EncodingChoice{EncodingKind::CodePage, 10000}));
  std::set<std::int32_t> code_pages;
  for (const EncodingRow& row : table) {
    if (row.kind != EncodingKind::CodePage) continue;
    EXPECT_TRUE(code_pages.insert(row.code_page).second) << "duplicate code page " << row.code_page;
    EXPECT_EQ(iconv_name_for_code_page(row.code_page).value(), row.iconv_name);
    EXPECT_EQ(encoding_display_name({EncodingKind::CodePage, row.code_page}), row.label);
  }
  EXPECT_EQ(code_pages.size(), 50u);
  EXPECT_EQ(encoding_display_name({EncodingKind::Utf32Be, 0}), "UTF-32 big endian");
  EXPECT_EQ(encoding_display_name({EncodingKind::CodePage, 1234}), "code page 1234");
  EXPECT_EQ(encoding_display_name({static_cast<EncodingKind>(9), 0}), "unknown encoding");
  EXPECT_EQ(iconv_name_for_code_page(1234).error(), "Code page 1234 is unavailable in this build.");
  EXPECT_EQ(decode_text("abc", {EncodingKind::CodePage, 65001}).error(), "Code page 65001 is unavailable in this build.");
}

TEST(ByteOrderMark, FirstMatchWinsAndShortInputsHaveNone) {
  struct Case {
    std::string bytes;
    std::optional<EncodingKind> kind;
    std::size_t length;
  };
  const Case cases[] = {
      {"\xFF\xFE\x00\x00"s, EncodingKind::Utf32Le, 4},     {"\x00\x00\xFE\xFF"s, EncodingKind::Utf32Be, 4},
      {"\xEF\xBB\xBFx"s, EncodingKind::Utf8, 3},           {"\xFF\xFE\x41\x00"s, EncodingKind::Utf16Le, 2},
      {"\xFE\xFF"s, EncodingKind::Utf16Be, 2},             {"\xFF\xFE\x00"s, EncodingKind::Utf16Le, 2},
      {"\x00\x00\xFE"s, std::nullopt, 0},                  {"\xEF\xBB"s, std::nullopt, 0},
      {"\xFF"s, std::nullopt, 0},                          {""s, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    const auto mark = detect_byte_order_mark(c.bytes);
    ASSERT_EQ(mark.has_value(), c.kind.has_value()) << lossy_utf8(c.bytes);
    if (!mark) continue;
    EXPECT_EQ(mark->kind, *c.kind);
    EXPECT_EQ(mark->length, c.length);
  }
}

TEST(DetectableText, ControlsAndNoncharactersFailAtEveryPosition) {
  // Every offset of a 40-byte line, so that both the 16-byte chunks and the tail see each character.
  const std::string bad[] = {"\x00"s,          "\x08",         "\x0E",         "\x1F",        "\x7F",
                             "\xC2\x80",       "\xC2\x9F",     "\xEF\xB7\x90", "\xEF\xB7\xAF", "\xEF\xBF\xBE",
                             "\xEF\xBF\xBF",   "\xF0\x9F\xBF\xBE", "\xF4\x8F\xBF\xBF", "\xC3",   "\xED\xA0\x80"};
  const std::string good[] = {"\t", "\n", "\x0B", "\x0C", "\r", " ", "~", "\xC2\xA0", "\xEF\xB7\xB0", "\xEF\xBF\xBD",
                              "\xF0\x9F\x98\x80"};
  const std::string line(40, 'x');
  for (std::size_t at = 0; at <= line.size(); ++at) {
    for (const std::string& character : bad) {
      const std::string text = line.substr(0, at) + character + line.substr(at);
      EXPECT_FALSE(is_detectable_text(text)) << "at " << at << ": " << lossy_utf8(character);
    }
    for (const std::string& character : good) {
      const std::string text = line.substr(0, at) + character + line.substr(at);
      EXPECT_TRUE(is_detectable_text(text)) << "at " << at << ": " << lossy_utf8(character);
    }
  }
}

TEST(Plausibility, Utf16CountsZeroBytesOfTheFirstUnits) {
  const std::string ascii_le = "h\0e\0l\0l\0o\0"s;
  EXPECT_TRUE(is_plausible_utf16(ascii_le, EncodingKind::Utf16Le));
  EXPECT_FALSE(is_plausible_utf16(ascii_le, EncodingKind::Utf16Be));
  EXPECT_FALSE(is_plausible_utf16("A\0"s, EncodingKind::Utf16Le));       // shorter than 4
  EXPECT_FALSE(is_plausible_utf16("A\0B\0C"s, EncodingKind::Utf16Le));   // odd length
  EXPECT_FALSE(is_plausible_utf16("A\0\xD0\x04"s, EncodingKind::Utf16Le));  // h = 1
  // 5 units, 3 with a zero high byte: 5 x 3 >= 3 x 5 holds; one more non-zero unit breaks it.
  EXPECT_TRUE(is_plausible_utf16("a\0b\0c\0\x10\x04\x11\x04"s, EncodingKind::Utf16Le));
  EXPECT_FALSE(is_plausible_utf16("a\0b\0c\0\x10\x04\x11\x04\x12\x04"s, EncodingKind::Utf16Le));
  // Zero low bytes: at most one unit in five.
  EXPECT_TRUE(is_plausible_utf16("a\0b\0c\0d\0\0\x01"s, EncodingKind::Utf16Le));
  EXPECT_FALSE(is_plausible_utf16("a\0b\0c\0\0\x01\0\x01"s, EncodingKind::Utf16Le));
  // Only the first 4,096 units count.
  std::string long_text;
  for (int i = 0; i < 4096; ++i) long_text += "a\0"s;
  for (int i = 0; i < 10000; ++i) long_text += "\x10\x04"s;
  EXPECT_TRUE(is_plausible_utf16(long_text, EncodingKind::Utf16Le));
}

TEST(Plausibility, Utf32NeedsZeroTopBytesWithinTheFirstUnits) {
  EXPECT_TRUE(is_plausible_utf32("A\0\0\0\x00\xF6\x01\x00"s, EncodingKind::Utf32Le));
  EXPECT_FALSE(is_plausible_utf32("A\0\0\0\x00\xF6\x11\x00"s, EncodingKind::Utf32Le));  // above U+10FFFF
  EXPECT_FALSE(is_plausible_utf32("A\0\0\0"s, EncodingKind::Utf32Le));                // shorter than 8
  EXPECT_TRUE(is_plausible_utf32("\0\0\0A\0\x10\xFF\xFF"s, EncodingKind::Utf32Be));
  EXPECT_FALSE(is_plausible_utf32("\0\0\0A\0\0\0B\0"s, EncodingKind::Utf32Be));  // not a multiple of 4
  std::string long_text;
  for (int i = 0; i < 4096; ++i) long_text += "a\0\0\0"s;
  long_text += "\xFF\xFF\xFF\xFF"s;
  EXPECT_TRUE(is_plausible_utf32(long_text, EncodingKind::Utf32Le));
}

std::string repeat(const std::string& piece, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += piece;
  return result;
}

struct AutoCase {
  std::string name;
  std::string bytes;
  EncodingChoice expected;
  std::string text;
  bool mark;
};

class AutoDetection : public ::testing::TestWithParam<AutoCase> {};

TEST_P(AutoDetection, DecodesAsExpectedAndEncodesBackExactly) {
  const AutoCase& c = GetParam();
  const auto decoded = decode_text(c.bytes, {});
  ASSERT_TRUE(decoded) << decoded.error();
  EXPECT_EQ(decoded->encoding, c.expected);
  EXPECT_EQ(decoded->text, c.text);
  EXPECT_EQ(decoded->had_byte_order_mark, c.mark);
  const auto encoded = encode_text(decoded->text, decoded->encoding.kind, decoded->encoding.code_page,
                                   c.mark ? ByteOrderMark::Write : ByteOrderMark::Omit);
  ASSERT_TRUE(encoded) << encoded.error();
  EXPECT_EQ(*encoded, c.bytes);
}

constexpr EncodingChoice kUtf8{EncodingKind::Utf8, 0};

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, AutoDetection,
    ::testing::Values(
        AutoCase{"Empty", "", kUtf8, "", false},
        AutoCase{"Utf16LeMark", "\xFF\xFE\x41\x00"s, {EncodingKind::Utf16Le, 0}, "A", true},
        AutoCase{"Utf32LeMark", "\xFF\xFE\x00\x00\x41\x00\x00\x00"s, {EncodingKind::Utf32Le, 0}, "A", true},
        AutoCase{"Utf32BeMark", "\x00\x00\xFE\xFF\x00\x00\x00\x41"s, {EncodingKind::Utf32Be, 0}, "A", true},
        AutoCase{"Utf8Mark", "\xEF\xBB\xBFh\xC3\xA9"s, kUtf8, "h\xC3\xA9", true},
        AutoCase{"PlainAscii", "Hello, world\r\n\tand a vertical\x0Btab", kUtf8,
                 "Hello, world\r\n\tand a vertical\x0Btab", false},
        AutoCase{"Windows1252", "\x48\xE9\x6C\x6C\x6F"s, {EncodingKind::CodePage, 1252}, "H\xC3\xA9llo", false},
        AutoCase{"Utf16LeWithoutMark", "H\0e\0l\0l\0o\0 \0\x14\x04"s, {EncodingKind::Utf16Le, 0},
                 "Hello \xD0\x94", false},
        AutoCase{"Utf16BeWithoutMark", "\0H\0e\0l\0l\0o"s, {EncodingKind::Utf16Be, 0}, "Hello", false},
        AutoCase{"Utf32LeWithoutMark", "H\0\0\0i\0\0\0\x00\xF6\x01\x00"s, {EncodingKind::Utf32Le, 0},
                 "Hi\xF0\x9F\x98\x80", false},
        // UTF-16 LE "A\n" pairs look like UTF-32 LE units for the first 4,096 units,
        // but a later unit is above U+10FFFF: the UTF-32 candidate fails and UTF-16 LE wins.
        AutoCase{"RejectedCandidateFallsThrough", repeat("A\0\n\0"s, 4096) + "A\0\x00\x01"s,
                 {EncodingKind::Utf16Le, 0}, repeat("A\n", 4096) + "A\xC4\x80", false}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(AutoDetectionRefusals, EachStepHasItsMessage) {
  EXPECT_EQ(decode_text("a\0b"s, {}).error(),
            "Valid UTF-8 data contains binary controls or noncharacters; it was not reinterpreted as a legacy code "
            "page.");
  EXPECT_EQ(decode_text("a\0b"s, kUtf8).value().text, "a\0b"s);  // an explicit choice is not screened
  EXPECT_EQ(decode_text("\xFF\xFE\x01\x00"s, {}).error(),
            "The detected Unicode data contains binary control characters.");
  EXPECT_EQ(decode_text("\xFF\xFE\x00\xD8"s, {}).error(), "UTF-16 data contains an unpaired surrogate.");
  EXPECT_EQ(decode_text("\xE9\x01"s, {}).error(),
            "The selected data does not look like supported plain text; choose an explicit encoding only if its "
            "format is known.");
  // 81 has no character in Windows-1252: the converter's own message comes back unchanged.
  EXPECT_EQ(decode_text("\xE9\x81"s, {}).error(), "The selected encoding cannot represent or decode this data exactly.");
}

TEST(AutoDetectionRefusals, MarkOfAnotherKindNamesBoth) {
  EXPECT_EQ(decode_text("\xEF\xBB\xBF" "abc"s, {EncodingKind::Utf16Le, 0}).error(),
            "The byte-order mark identifies UTF-8, but UTF-16 little endian was selected.");
  EXPECT_EQ(decode_text("\xFF\xFE\x00\x00"s, {EncodingKind::Utf16Le, 0}).error(),
            "The byte-order mark identifies UTF-32 little endian, but UTF-16 little endian was selected.");
  EXPECT_EQ(decode_text("\xFE\xFF\x00\x41"s, kUtf8).error(),
            "The byte-order mark identifies UTF-16 big endian, but UTF-8 was selected.");
}

// The SIMD validator against the plain one of the common helpers on random,
// mostly-valid input: every truncation and corruption must be caught alike.
TEST(Utf8Validation, AgreesWithTheReferenceOnRandomInput) {
  std::mt19937 random(20261208);
  const std::string pieces[] = {"a", "hello world ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\x9F\xBF",
                                "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\x80", "\xE2\x82", "\xF8"};
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    const int count = std::uniform_int_distribution<int>(0, 30)(random);
    for (int i = 0; i < count; ++i) {
      const int pick = std::uniform_int_distribution<int>(0, 100)(random);
      bytes += pieces[pick < 90 ? pick % 6 : 6 + pick % 6];
    }
    const bool valid = decode_text(bytes, kUtf8).has_value();
    ASSERT_EQ(valid, is_valid_utf8(bytes)) << lossy_utf8(bytes);
  }
}

}  // namespace
}  // namespace tarnwick
