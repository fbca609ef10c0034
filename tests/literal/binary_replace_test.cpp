// Raw binary replacement against a slow reference, plus its refusals and literals.
#include <gtest/gtest.h>

#include <random>

#include "literal/literal.h"

namespace tarnwick {
namespace {

using namespace std::string_literals;

struct Reference {
  std::string bytes;
  std::uint64_t count = 0;
};

char fold(char c, FoldAsciiCase folding) {
  return folding == FoldAsciiCase::Yes && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
}

// Obviously correct: try every offset left to right, skip past each match.
Reference slow_replace(const std::string& data, const std::string& find, const std::string& replacement,
                       FoldAsciiCase folding) {
  Reference result;
  std::size_t i = 0;
  while (i < data.size()) {
    bool match = i + find.size() <= data.size();
    for (std::size_t k = 0; match && k < find.size(); ++k) match = fold(data[i + k], folding) == fold(find[k], folding);
    if (match) {
      result.bytes += replacement;
      i += find.size();
      ++result.count;
    } else {
      result.bytes += data[i++];
    }
  }
  return result;
}

std::string random_bytes(std::mt19937& random, std::size_t max_length) {
  static const char alphabet[] = {'a', 'b', 'A', 'B', 'z', '\0', '\xC1', '\xE1', '['};
  std::string bytes(std::uniform_int_distribution<std::size_t>(0, max_length)(random), ' ');
  // Mostly a and b so that overlapping and repeated prefixes are common.
  for (char& c : bytes) c = alphabet[std::uniform_int_distribution<int>(0, 99)(random) < 80 ? random() % 4 : random() % 9];
  return bytes;
}

TEST(ReplaceLiteralBytes, AgreesWithTheSlowReferenceOnRandomInput) {
  std::mt19937 random(1208);
  for (int round = 0; round < 30000; ++round) {
    const std::string data = random_bytes(random, round % 10 == 0 ? 400 : 60);
    std::string find = random_bytes(random, 5);
    if (find.empty()) find = "a";
    const std::string replacement = random_bytes(random, 5);
    for (const FoldAsciiCase folding : {FoldAsciiCase::No, FoldAsciiCase::Yes}) {
      const Reference expected = slow_replace(data, find, replacement, folding);
      const bool unchanged = expected.bytes == data;
      const auto resizable = replace_literal_bytes(data, {find, replacement}, folding, Resizable::Yes);
      ASSERT_TRUE(resizable) << resizable.error();
      ASSERT_EQ(resizable->bytes.has_value(), !unchanged) << "round " << round;
      if (!unchanged) {
        ASSERT_EQ(*resizable->bytes, expected.bytes) << "round " << round;
        ASSERT_EQ(resizable->count, expected.count);
      }
      const auto fixed = replace_literal_bytes(data, {find, replacement}, folding, Resizable::No);
      if (expected.count > 0 && find.size() != replacement.size()) {
        ASSERT_FALSE(fixed);
        ASSERT_NE(fixed.error().find("This file contains " + std::to_string(expected.count) + " matches."),
                  std::string::npos);
        continue;
      }
      ASSERT_TRUE(fixed) << fixed.error();
      ASSERT_EQ(fixed->bytes, resizable->bytes);
    }
  }
}

TEST(ReplaceLiteralBytes, LeftmostNonOverlappingAndFolding) {
  EXPECT_EQ(replace_literal_bytes("aaaa", {"aa", "bb"}, FoldAsciiCase::No, Resizable::No)->count, 2u);
  const auto aba = replace_literal_bytes("ababa", {"aba", "xyz"}, FoldAsciiCase::No, Resizable::No);
  EXPECT_EQ(aba->count, 1u);
  EXPECT_EQ(*aba->bytes, "xyzba");
  const auto folded = replace_literal_bytes("ABC Abc abc aBC", {"abc", "XYZ"}, FoldAsciiCase::Yes, Resizable::No);
  EXPECT_EQ(*folded->bytes, "XYZ XYZ XYZ XYZ");
  EXPECT_EQ(folded->count, 4u);
  EXPECT_FALSE(replace_literal_bytes("ABC", {"abc", "XYZ"}, FoldAsciiCase::No, Resizable::No)->bytes);
  // Only A-Z fold: neither the bytes just outside the range nor a UTF-16 code unit's high byte.
  EXPECT_FALSE(replace_literal_bytes("`{", {"@[", "xx"}, FoldAsciiCase::Yes, Resizable::No)->bytes);
  EXPECT_EQ(replace_literal_bytes("X\0Y\0"s, {"x\0y\0"s, "a\0b\0"s}, FoldAsciiCase::Yes, Resizable::No)->bytes,
            "a\0b\0"s);
}

TEST(ReplaceLiteralBytes, NoChangeWhenTheResultEqualsTheInput) {
  EXPECT_FALSE(replace_literal_bytes("xabcx", {"abc", "abc"}, FoldAsciiCase::No, Resizable::No)->bytes);
  // Every folded match already holds the replacement's exact bytes.
  EXPECT_FALSE(replace_literal_bytes("ABC..ABC", {"abc", "ABC"}, FoldAsciiCase::Yes, Resizable::No)->bytes);
  // One of them does not.
  EXPECT_EQ(replace_literal_bytes("ABC..Abc", {"abc", "ABC"}, FoldAsciiCase::Yes, Resizable::No)->bytes, "ABC..ABC");
}

TEST(ReplaceLiteralBytes, Refusals) {
  EXPECT_EQ(replace_literal_bytes("abc", {"", "x"}, FoldAsciiCase::No, Resizable::Yes).error(),
            "The encoded binary find pattern is empty.");
  EXPECT_EQ(replace_literal_bytes("AB AB AB", {"AB", "ABC"}, FoldAsciiCase::No, Resizable::No).error(),
            "Binary fixed-width mode requires equal encoded widths (find: 2 bytes; replacement: 3 bytes). This file "
            "contains 3 matches. Use equal-width names or explicitly select resizable raw binary for a format whose "
            "offsets you understand.");
  EXPECT_EQ(*replace_literal_bytes("AB AB AB", {"AB", "ABC"}, FoldAsciiCase::No, Resizable::Yes)->bytes, "ABC ABC ABC");
  // Unequal widths without any match are never refused.
  EXPECT_FALSE(replace_literal_bytes("xyz", {"AB", "ABC"}, FoldAsciiCase::No, Resizable::No)->bytes);
}

TEST(ReplaceLiteralBytes, OutputIsBoundedBy128MiB) {
  const std::string data(kContentOutputLimitBytes / 2, 'a');
  const std::string find(16, 'a');
  // 64 MiB of matches that triple: 192 MiB, refused before any output is taken.
  EXPECT_EQ(replace_literal_bytes(data, {find, std::string(48, 'b')}, FoldAsciiCase::No, Resizable::Yes).error(),
            "Binary replacement output exceeds 128 MiB. Narrow the operation.");
  // Doubling reaches exactly 128 MiB, which is allowed.
  const auto doubled = replace_literal_bytes(data, {find, std::string(32, 'b')}, FoldAsciiCase::No, Resizable::Yes);
  ASSERT_TRUE(doubled) << doubled.error();
  EXPECT_EQ(doubled->bytes->size(), kContentOutputLimitBytes);
  EXPECT_EQ(doubled->count, data.size() / 16);
}

TEST(EncodeBinaryLiterals, EncodesBothTextsWithoutAMark) {
  const auto utf8 = encode_binary_literals("é", "e", {});
  EXPECT_EQ(utf8->find, "\xC3\xA9");
  EXPECT_EQ(utf8->replacement, "e");
  const auto utf16 = encode_binary_literals("AB", "C", {EncodingKind::Utf16Le, 0});
  EXPECT_EQ(utf16->find, "A\0B\0"s);
  EXPECT_EQ(utf16->replacement, "C\0"s);
  EXPECT_EQ(encode_binary_literals("Zoë", "Zoe", {EncodingKind::CodePage, 1252})->find, "Zo\xEB");
  const auto greek = encode_binary_literals("abc", "\xCE\xB1", {EncodingKind::CodePage, 1252});
  ASSERT_FALSE(greek);
  EXPECT_TRUE(greek.error().find("Windows-1252") != std::string::npos ||
              greek.error() == "The selected encoding cannot represent or decode this data exactly.")
      << greek.error();
}

// A file in ISO-2022-KR carries its designation ESC $ ) C once, at its start;
// the patterns must not, or nothing past the first bytes could match. The
// bytes are Python's iso2022_kr encoding of the texts.
TEST(RawBinaryLiterals, Iso2022KrPatternsMatchPastTheDesignation) {
  const EncodingChoice korean{EncodingKind::CodePage, 50225};
  const std::string file = "\x1b$)C\x0e<-?o\x0f model_abc.mdl \x0eGQ19\x0f abc"s;
  const auto ascii = encode_binary_literals("abc", Replacement("xyz"), korean);
  ASSERT_TRUE(ascii) << ascii.error();
  EXPECT_EQ(ascii->find, "abc");
  const auto renamed = replace_literal_bytes(file, *ascii, FoldAsciiCase::No, Resizable::No);
  ASSERT_TRUE(renamed && renamed->bytes);
  EXPECT_EQ(renamed->count, 2u);
  EXPECT_EQ(*renamed->bytes, "\x1b$)C\x0e<-?o\x0f model_xyz.mdl \x0eGQ19\x0f xyz"s);

  const auto hangul = encode_binary_literals("\xED\x95\x9C\xEA\xB5\xAD", Replacement("\xEC\x84\x9C\xEC\x9A\xB8"), korean);
  ASSERT_TRUE(hangul) << hangul.error();
  const auto replaced = replace_literal_bytes(*renamed->bytes, *hangul, FoldAsciiCase::No, Resizable::No);
  ASSERT_TRUE(replaced && replaced->bytes);
  EXPECT_EQ(*replaced->bytes, "\x1b$)C\x0e<-?o\x0f model_xyz.mdl \x0e<-?o\x0f xyz"s);
}

}  // namespace
}  // namespace tarnwick
