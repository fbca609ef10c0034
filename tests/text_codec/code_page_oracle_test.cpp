// Code-page decoding and encoding checked against Python's codecs on every single
// byte and on sample texts, with every legitimate glibc/Python difference named.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "support/temp_tree.h"
#include "text_codec/text_codec.h"

namespace tarnwick {
namespace {

using Bytes = std::optional<std::string>;  // none: the oracle refuses

struct OracleSample {
  std::string text;
  Bytes encoded;
};

struct Oracle {
  std::map<std::int32_t, std::map<int, Bytes>> single_bytes;
  std::map<std::int32_t, std::vector<OracleSample>> samples;
};

std::string from_hex(const std::string& hex) {
  if (hex == "=") return {};
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string to_hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex.push_back(digits[static_cast<unsigned char>(c) >> 4]);
    hex.push_back(digits[static_cast<unsigned char>(c) & 15]);
  }
  return hex;
}

const Oracle& oracle() {
  static const Oracle loaded = [] {
    Oracle result;
    const char* source = std::getenv("TARNWICK_SOURCE_DIR");
    const std::string script = std::string(source ? source : ".") + "/tests/text_codec/codec_oracle.py";
    std::istringstream lines(testing::command_output("python3 '" + script + "'"));
    std::string kind, field, value;
    std::int32_t code_page = 0;
    while (lines >> kind >> code_page >> field >> value) {
      const Bytes decoded = value == "-" ? Bytes{} : Bytes{from_hex(value)};
      if (kind == "B") result.single_bytes[code_page][std::stoi(field, nullptr, 16)] = decoded;
      if (kind == "S") result.samples[code_page].push_back({from_hex(field), decoded});
    }
    return result;
  }();
  return loaded;
}

bool system_provides(std::string_view iconv_name) {
  const iconv_t handle = iconv_open("UTF-8", std::string(iconv_name).c_str());
  if (handle == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(handle);
  return true;
}

// Where glibc's converters and Python's codecs legitimately disagree on single bytes.
struct ByteDifference {
  std::int32_t code_page;
  int first_byte;
  int last_byte;
  const char* why;
};

const ByteDifference kByteDifferences[] = {
    {932, 0x80, 0x80, "Python maps 80 to U+0080 (vendor best fit); glibc leaves it undefined"},
    {932, 0xA0, 0xA0, "Python maps A0 to private-use U+F8F0; glibc leaves it undefined"},
    {932, 0xFD, 0xFF, "Python maps FD-FF to private-use U+F8F1-U+F8F3; glibc leaves them undefined"},
    {936, 0x80, 0x80, "glibc's CP936 has the euro sign at 80; Python's GBK has no single byte 80"},
    {950, 0x80, 0x80, "glibc passes 80 through as U+0080; Python refuses it"},
    {1361, 0x5C, 0x5C, "Python's Johab maps 5C to the won sign U+20A9; glibc keeps the backslash"},
    {51932, 0x80, 0x8D, "glibc's EUC-JP passes C1 controls through; Python refuses them"},
    {51932, 0x90, 0x9F, "glibc's EUC-JP passes C1 controls through; Python refuses them"},
    {51949, 0x80, 0x9F, "glibc's EUC-KR passes C1 controls through; Python refuses them"},
    {50225, 0x0E, 0x0F,
     "a lone shift byte decodes to no text, and glibc re-encodes no text as the designation alone"},
    {10000, 0xC6, 0xC6, "glibc's Mac Roman gives GREEK CAPITAL DELTA U+0394, Python INCREMENT U+2206"},
    {10000, 0xF0, 0xF0, "the Apple logo: glibc uses private-use U+E01E, Python U+F8FF"},
};

bool is_known_byte_difference(std::int32_t code_page, int byte) {
  for (const auto& difference : kByteDifferences)
    if (difference.code_page == code_page && byte >= difference.first_byte && byte <= difference.last_byte)
      return true;
  return false;
}

// Where they disagree on a whole sample text.
struct SampleDifference {
  std::int32_t code_page;
  std::string_view sample;
  const char* why;
};

const SampleDifference kSampleDifferences[] = {
    {1258, "Tiếng Việt có dấu",
     "glibc's CP1258 decomposes letters with tone marks into base and combining mark and recomposes them on "
     "decoding, so the round trip holds; Python's codec has no decomposition and refuses"},
    {936, "Euro € sign", "glibc's CP936 encodes the euro sign as 80; Python's GBK cannot"},
    {950, "日本語のテキスト、カタカナ", "Python's CP950 has kana that glibc's Big5 table lacks"},
};

bool is_known_sample_difference(std::int32_t code_page, std::string_view sample) {
  for (const auto& difference : kSampleDifferences)
    if (difference.code_page == code_page && difference.sample == sample) return true;
  return false;
}

// glibc's ISO-2022-KR writes the designation ESC $ ) C at the start of every
// output, as RFC 1557 asks; Python's writes it only before the first Korean
// character. Bytes without it at the start therefore never survive glibc's
// round trip; the expected bytes move Python's designation to the front.
constexpr std::int32_t kIso2022Kr = 50225;
constexpr std::string_view kIso2022KrHeader = "\x1b$)C";

std::string with_glibc_header(std::int32_t code_page, std::string python_bytes) {
  if (code_page != kIso2022Kr) return python_bytes;
  if (const auto at = python_bytes.find(kIso2022KrHeader); at != std::string::npos)
    python_bytes.erase(at, kIso2022KrHeader.size());
  return std::string(kIso2022KrHeader) + python_bytes;
}

std::vector<EncodingRow> code_page_rows() {
  std::vector<EncodingRow> rows;
  for (const EncodingRow& row : encoding_table())
    if (row.kind == EncodingKind::CodePage) rows.push_back(row);
  return rows;
}

class CodePageOracle : public ::testing::TestWithParam<EncodingRow> {};

TEST_P(CodePageOracle, SingleBytesDecodeAsPythonDoes) {
  const EncodingRow row = GetParam();
  const EncodingChoice choice{EncodingKind::CodePage, row.code_page};
  ASSERT_TRUE(oracle().single_bytes.contains(row.code_page)) << "the oracle lacks code page " << row.code_page;
  if (!system_provides(row.iconv_name)) {
    const auto decoded = decode_text("A", choice);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error(), "The selected encoding is unavailable on this operating system.");
    GTEST_SKIP() << row.iconv_name << " is not provided by this system";
  }
  for (const auto& [byte, expected] : oracle().single_bytes.at(row.code_page)) {
    if (is_known_byte_difference(row.code_page, byte)) continue;
    const std::string input = with_glibc_header(row.code_page, std::string(1, static_cast<char>(byte)));
    const auto decoded = decode_text(input, choice);
    const Bytes actual = decoded ? Bytes{decoded->text} : Bytes{};
    EXPECT_EQ(actual.has_value(), expected.has_value()) << row.label << " byte " << to_hex(input) << ": python "
                                                        << (expected ? to_hex(*expected) : "refuses") << ", ours "
                                                        << (actual ? to_hex(*actual) : decoded.error());
    if (actual && expected) {
      EXPECT_EQ(to_hex(*actual), to_hex(*expected)) << row.label << " byte " << to_hex(input);
    }
  }
}

TEST_P(CodePageOracle, SampleTextsConvertAsPythonDoes) {
  const EncodingRow row = GetParam();
  if (!system_provides(row.iconv_name)) GTEST_SKIP() << row.iconv_name << " is not provided by this system";
  for (OracleSample sample : oracle().samples.at(row.code_page)) {
    if (is_known_sample_difference(row.code_page, sample.text)) continue;
    if (sample.encoded) sample.encoded = with_glibc_header(row.code_page, *sample.encoded);
    const auto encoded = encode_text(sample.text, EncodingKind::CodePage, row.code_page, ByteOrderMark::Omit);
    EXPECT_EQ(encoded.has_value(), sample.encoded.has_value())
        << row.label << " encoding \"" << sample.text << "\": " << (encoded ? to_hex(*encoded) : encoded.error());
    if (!encoded || !sample.encoded) continue;
    EXPECT_EQ(to_hex(*encoded), to_hex(*sample.encoded)) << row.label << " encoding \"" << sample.text << "\"";
    const auto decoded = decode_text(*sample.encoded, {EncodingKind::CodePage, row.code_page});
    ASSERT_TRUE(decoded) << row.label << " decoding \"" << sample.text << "\": " << decoded.error();
    EXPECT_EQ(decoded->text, sample.text);
    EXPECT_FALSE(decoded->had_byte_order_mark);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCodePage, CodePageOracle, ::testing::ValuesIn(code_page_rows()),
                         [](const auto& row_info) { return "cp" + std::to_string(row_info.param.code_page); });

}  // namespace
}  // namespace tarnwick
