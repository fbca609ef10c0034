// Explicit decoding and encoding: Unicode transcoders, their refusals, the iconv
// loop (growth, flush, refusals) and the 128 MiB bound.
#include <gtest/gtest.h>

#include <random>

#include "text_codec/text_codec.h"

namespace tarnwick {
namespace {

using namespace std::string_literals;
using enum EncodingKind;

// "A€😀": one ASCII, one BMP and one supplementary character.
const std::string kSample = "A\xE2\x82\xAC\xF0\x9F\x98\x80";

TEST(UnicodeEncoding, ExactBytesInEveryForm) {
  struct Case {
    EncodingKind kind;
    ByteOrderMark mark;
    std::string bytes;
  };
  const Case cases[] = {
      {Utf8, ByteOrderMark::Omit, kSample},
      {Utf8, ByteOrderMark::Write, "\xEF\xBB\xBF"s + kSample},
      {Auto, ByteOrderMark::Write, "\xEF\xBB\xBF"s + kSample},
      {Utf16Le, ByteOrderMark::Omit, "A\0\xAC\x20\x3D\xD8\x00\xDE"s},
      {Utf16Be, ByteOrderMark::Write, "\xFE\xFF\0A\x20\xAC\xD8\x3D\xDE\x00"s},
      {Utf32Le, ByteOrderMark::Write, "\xFF\xFE\0\0A\0\0\0\xAC\x20\0\0\x00\xF6\x01\x00"s},
      {Utf32Be, ByteOrderMark::Omit, "\0\0\0A\0\0\x20\xAC\x00\x01\xF6\x00"s},
  };
  for (const Case& c : cases) {
    const auto encoded = encode_text(kSample, c.kind, 0, c.mark);
    ASSERT_TRUE(encoded) << encoded.error();
    EXPECT_EQ(*encoded, c.bytes) << encoding_display_name({c.kind, 0});
    // Exact sizing: nothing reserved beyond the bytes written.
    EXPECT_EQ(encoded->size(), c.bytes.size());
    const EncodingKind decode_kind = c.kind == Auto ? Utf8 : c.kind;
    const auto decoded = decode_text(c.bytes, {decode_kind, 0});
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(decoded->text, kSample);
    EXPECT_EQ(decoded->had_byte_order_mark, c.mark == ByteOrderMark::Write);
  }
}

TEST(DecodedTextView, Utf8StaysAViewAndConvertedTextIsOwned) {
  const std::string utf8 = "\xEF\xBB\xBF" "caf\xC3\xA9";
  const auto view = decode_text_view(utf8, {});
  ASSERT_TRUE(view) << view.error();
  EXPECT_FALSE(view->converted);
  EXPECT_EQ(view->text().data(), utf8.data() + 3);  // after the mark, without a copy
  EXPECT_TRUE(view->had_byte_order_mark);
  const auto wide = decode_text_view("\xFF\xFE" "A\0"s, {});
  ASSERT_TRUE(wide && wide->converted);
  EXPECT_EQ(wide->text(), "A");
}

// A lent buffer gives its memory to a conversion, not to text that stays a view.
TEST(DecodedTextView, ConversionTakesTheLentBuffersMemory) {
  std::string lent(4096, 'x');
  const char* memory = lent.data();
  const auto wide = decode_text_view("\xFF\xFE" "A\0B\0"s, {}, &lent);
  ASSERT_TRUE(wide && wide->converted);
  EXPECT_EQ(wide->text(), "AB");
  EXPECT_EQ(wide->converted->data(), memory);
  EXPECT_TRUE(lent.empty());

  std::string untouched(4096, 'y');
  const auto utf8 = decode_text_view("plain", {}, &untouched);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(untouched, std::string(4096, 'y'));
}

TEST(UnicodeDecoding, MalformedUnitsAreRefused) {
  struct Case {
    EncodingKind kind;
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {Utf8, "ab\xC0\x80"s, "Invalid UTF-8 byte sequence."},
      {Utf8, "\xED\xA0\x80"s, "Invalid UTF-8 byte sequence."},
      {Utf8, "abc\xE2\x82"s, "Invalid UTF-8 byte sequence."},
      {Utf16Le, "A\0B"s, "UTF-16 data has an incomplete code unit."},
      {Utf16Le, "A\0\x3D\xD8"s, "UTF-16 data contains an unpaired surrogate."},           // high at the end
      {Utf16Le, "\x3D\xD8" "A\0"s, "UTF-16 data contains an unpaired surrogate."},        // high, then no low
      {Utf16Be, "\xDE\x00\0A"s, "UTF-16 data contains an unpaired surrogate."},           // lone low
      {Utf16Be, "\xD8\x3D\xD8\x3D\xDE\x00"s, "UTF-16 data contains an unpaired surrogate."},
      {Utf32Le, "A\0\0\0B\0"s, "UTF-32 data has an incomplete code unit."},
      {Utf32Le, "\x00\xD8\x00\x00"s, "UTF-32 data contains an invalid Unicode scalar value."},
      {Utf32Be, "\x00\x11\x00\x00"s, "UTF-32 data contains an invalid Unicode scalar value."},
  };
  for (const Case& c : cases) {
    const auto decoded = decode_text(c.bytes, {c.kind, 0});
    ASSERT_FALSE(decoded) << encoding_display_name({c.kind, 0});
    EXPECT_EQ(decoded.error(), c.message) << encoding_display_name({c.kind, 0});
  }
  EXPECT_EQ(decode_text("\xFF\xFF\x10\x00"s, {Utf32Le, 0}).value().text, "\xF4\x8F\xBF\xBF");
}

TEST(UnicodeEncoding, InvalidTextIsNeverWritten) {
  for (const EncodingKind kind : {Auto, Utf8, Utf16Le, Utf32Be})
    EXPECT_EQ(encode_text("ab\xFF"s, kind, 0, ByteOrderMark::Omit).error(), "Invalid UTF-8 byte sequence.");
}

TEST(UnicodeRoundTrip, RandomScalarValuesSurviveEveryForm) {
  std::mt19937 random(4);
  std::uniform_int_distribution<std::uint32_t> scalar(0, 0x10FFFF);
  for (int round = 0; round < 200; ++round) {
    std::u32string characters;
    for (int i = 0; i < 50; ++i) {
      std::uint32_t c = scalar(random);
      if (c >= 0xD800 && c <= 0xDFFF) c -= 0x800;
      characters.push_back(static_cast<char32_t>(c));
    }
    std::string utf32be;
    for (const char32_t c : characters)
      for (int shift = 24; shift >= 0; shift -= 8) utf32be.push_back(static_cast<char>((c >> shift) & 0xFF));
    const std::string text = decode_text(utf32be, {Utf32Be, 0}).value().text;
    for (const EncodingKind kind : {Utf8, Utf16Le, Utf16Be, Utf32Le, Utf32Be}) {
      const std::string bytes = encode_text(text, kind, 0, ByteOrderMark::Write).value();
      const auto back = decode_text(bytes, {kind, 0});
      ASSERT_TRUE(back) << back.error();
      EXPECT_EQ(back->text, text);
    }
  }
}

TEST(CodePageConversion, RefusesInsteadOfSubstituting) {
  constexpr std::int32_t kWestern = 1252;
  EXPECT_EQ(encode_text("caf\xC3\xA9", CodePage, kWestern, ByteOrderMark::Omit).value(), "caf\xE9");
  // A Greek letter has no Windows-1252 byte: refused, never replaced by "?" or a look-alike.
  const auto greek = encode_text("\xCE\xB1", CodePage, kWestern, ByteOrderMark::Omit);
  ASSERT_FALSE(greek);
  EXPECT_TRUE(greek.error() == "The selected encoding cannot represent or decode this data exactly." ||
              greek.error() ==
                  "The replacement contains characters that Windows-1252 (Western European) cannot represent exactly.")
      << greek.error();
  EXPECT_EQ(encode_text("abc", CodePage, kWestern, ByteOrderMark::Write).error(),
            "Byte-order marks are only supported for Unicode encodings.");
  // Even a code page the system lacks refuses the mark before any converter is opened.
  EXPECT_EQ(encode_text("abc", CodePage, 52936, ByteOrderMark::Write).error(),
            "Byte-order marks are only supported for Unicode encodings.");
  EXPECT_EQ(encode_text("abc", CodePage, 4242, ByteOrderMark::Omit).error(),
            "Code page 4242 is unavailable in this build.");
}

TEST(CodePageConversion, BytesThatDoNotSurviveTheRoundTripAreRefused) {
  // ISO-2022-JP: a redundant escape back to ASCII decodes to the same text but
  // re-encodes without it, so the bytes would change.
  const auto redundant = decode_text("\x1B(Babc"s, {CodePage, 50220});
  ASSERT_FALSE(redundant);
  EXPECT_EQ(redundant.error(),
            "ISO-2022-JP (Japanese) cannot decode these bytes without changing their representation.");
  // A Shift JIS lead byte without its trail byte.
  EXPECT_EQ(decode_text("ab\x82"s, {CodePage, 932}).error(),
            "The selected encoding cannot represent or decode this data exactly.");
  EXPECT_EQ(decode_text("\x82\xA0"s, {CodePage, 932}).value().text, "\xE3\x81\x82");
}

TEST(IconvConversion, UnavailableConverter) {
  EXPECT_EQ(convert_with_iconv("abc", "NO-SUCH-ENCODING", "UTF-8").error(),
            "The selected encoding is unavailable on this operating system.");
}

TEST(IconvConversion, GrowsTheBufferAndFlushesTheShiftState) {
  // 1,000 box characters of OEM 437 become 3,000 bytes of UTF-8: more than the first 2 x 1,000 + 64.
  const std::string boxes(1000, '\xB0');
  const std::string utf8 = convert_with_iconv(boxes, "CP437", "UTF-8").value();
  ASSERT_EQ(utf8.size(), 3000u);
  EXPECT_EQ(utf8.substr(0, 3), "\xE2\x96\x91");
  EXPECT_EQ(convert_with_iconv(utf8, "UTF-8", "CP437").value(), boxes);
  // ISO-2022-JP must switch back to ASCII at the end: only the flush call writes ESC ( B.
  const std::string japanese = convert_with_iconv("\xE6\x97\xA5", "UTF-8", "ISO-2022-JP").value();
  EXPECT_EQ(japanese, "\x1B$BF|\x1B(B");
  EXPECT_EQ(decode_text(japanese, {CodePage, 50220}).value().text, "\xE6\x97\xA5");
  EXPECT_EQ(convert_with_iconv("", "CP437", "UTF-8").value(), "");
}

TEST(ConversionLimits, InputAndOutputAreBoundedBy128MiB) {
  const std::size_t limit = kTextConversionLimitBytes;
  const std::string too_long(limit + 1, 'a');
  EXPECT_EQ(decode_text(too_long, {}).error(), "Text conversion exceeds the 128 MiB limit.");
  EXPECT_EQ(encode_text(too_long, Utf8, 0, ByteOrderMark::Omit).error(), "Text conversion exceeds the 128 MiB limit.");
  EXPECT_EQ(convert_with_iconv(too_long, "CP437", "UTF-8").error(), "Text conversion exceeds the 128 MiB limit.");
  // Exactly at the limit is accepted; the mark would push it over.
  const std::string at_limit(limit, 'a');
  EXPECT_EQ(encode_text(at_limit, Utf8, 0, ByteOrderMark::Omit).value().size(), limit);
  EXPECT_EQ(encode_text(at_limit, Utf8, 0, ByteOrderMark::Write).error(), "Text conversion exceeds the 128 MiB limit.");
  // 64 MiB of text doubles in UTF-16 past the bound, which is checked before anything is written.
  const std::string half(limit / 2 + 1, 'a');
  EXPECT_EQ(encode_text(half, Utf16Le, 0, ByteOrderMark::Omit).error(), "Text conversion exceeds the 128 MiB limit.");
  // 45 MiB of box characters need 135 MiB of UTF-8: the growing iconv buffer stops at the bound.
  const std::string boxes(45u << 20, '\xB0');
  EXPECT_EQ(convert_with_iconv(boxes, "CP437", "UTF-8").error(), "Text conversion exceeds the 128 MiB limit.");
}

}  // namespace
}  // namespace tarnwick
