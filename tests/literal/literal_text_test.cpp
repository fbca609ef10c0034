// The literal text replacer against a slow reference, plus its refusals and limits.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "literal/byte_search.h"
#include "literal/literal.h"
#include "literal/replaced_output.h"

namespace tarnwick {
namespace {

constexpr std::string_view kOutputTooLarge =
    "Replacement output exceeds the safe size limit. Narrow the selection or replacement.";

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Obviously correct: try every position, compare byte by byte, skip past matches.
TextReplacement reference_replace(const std::string& text, const std::string& find, const std::string& replacement,
                                  MatchCase match_case) {
  TextReplacement result;
  std::size_t i = 0;
  while (i < text.size()) {
    bool match = i + find.size() <= text.size();
    for (std::size_t k = 0; match && k < find.size(); ++k) {
      match = match_case == MatchCase::Exact ? text[i + k] == find[k] : fold(text[i + k]) == fold(find[k]);
    }
    if (match) {
      result.text += replacement;
      ++result.count;
      i += find.size();
    } else {
      result.text += text[i++];
    }
  }
  return result;
}

std::string random_text(std::mt19937& random, std::string_view alphabet, std::size_t max_length,
                        std::size_t min_length = 0) {
  std::uniform_int_distribution<std::size_t> length(min_length, max_length);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string text(length(random), '\0');
  for (char& c : text) c = alphabet[pick(random)];
  return text;
}

TEST(ReplaceLiteralText, AgreesWithReferenceOnRandomInputs) {
  std::mt19937 random(20240611);
  // Small alphabets make matches overlap and nearly-match all the time; the
  // non-ASCII byte checks that only A-Z fold.
  const std::string alphabets[] = {"ab", "aA", "abAB", "aB\xc3\x84\xc3\xa4", "xyzXYZ-"};
  for (int round = 0; round < 20000; ++round) {
    const std::string& alphabet = alphabets[round % 5];
    const std::string text = random_text(random, alphabet, 40);
    const std::string find = random_text(random, alphabet, 5, 1);
    const std::string replacement = random_text(random, alphabet, 4);
    const MatchCase match_case = round % 2 == 0 ? MatchCase::Exact : MatchCase::Ignore;
    const TextReplacement expected = reference_replace(text, find, replacement, match_case);
    EXPECT_EQ(LiteralFinder(find, match_case).occurs_in(text), expected.count > 0) << text << " / " << find;

    // Limits exactly at and just below the result length.
    const auto at_limit = replace_literal_text(text, find, replacement, match_case, expected.text.size());
    ASSERT_TRUE(at_limit.has_value()) << text << " / " << find;
    EXPECT_EQ(at_limit->text, expected.text) << text << " / " << find << " -> " << replacement;
    EXPECT_EQ(at_limit->count, expected.count);
    if (expected.count > 0 && !expected.text.empty()) {
      const auto below = replace_literal_text(text, find, replacement, match_case, expected.text.size() - 1);
      ASSERT_FALSE(below.has_value());
      EXPECT_EQ(below.error(), kOutputTooLarge);
    }
  }
}

TEST(ReplaceLiteralText, LeftmostNonOverlappingAndAsciiOnlyFolding) {
  struct Case {
    std::string text, find, replacement;
    MatchCase match_case;
    std::string expected;
    std::uint64_t count;
  };
  const Case cases[] = {
      {"aaaa", "aa", "b", MatchCase::Exact, "bb", 2},
      {"ababa", "aba", "X", MatchCase::Exact, "Xba", 1},
      {"xABCx", "abc", "-", MatchCase::Ignore, "x-x", 1},
      {"xABCx", "abc", "-", MatchCase::Exact, "xABCx", 0},
      {"\xc3\x84", "\xc3\xa4", "a", MatchCase::Ignore, "\xc3\x84", 0},  // Ä does not match ä
      {"a", "a", "A", MatchCase::Ignore, "A", 1},
      {"a", "a", "a", MatchCase::Ignore, "a", 1},
      {"report-old-old.txt", "-old", "", MatchCase::Exact, "report.txt", 2},
      {"Report-OLD.TXT", "-old", "_new", MatchCase::Ignore, "Report_new.TXT", 1},  // outside keeps its case
      {"short", "longer than text", "x", MatchCase::Exact, "short", 0},
  };
  for (const Case& c : cases) {
    const auto result = replace_literal_text(c.text, c.find, c.replacement, c.match_case, 1024);
    ASSERT_TRUE(result.has_value()) << c.text;
    EXPECT_EQ(result->text, c.expected) << c.text << " / " << c.find;
    EXPECT_EQ(result->count, c.count) << c.text << " / " << c.find;
    EXPECT_EQ(result->changed, result->text != c.text) << c.text << " / " << c.find;
  }
}

TEST(ReplaceLiteralText, RefusesEmptyFindAndOversizedOutput) {
  EXPECT_EQ(replace_literal_text("abc", "", "x", MatchCase::Exact, 1024).error(), "Find text cannot be empty.");

  // A 1,000-byte name whose single match grows it to exactly 1,024 bytes, then to 1,025.
  const std::string name = std::string(999, 'n') + "x";
  EXPECT_EQ(replace_literal_text(name, "x", std::string(25, 'y'), MatchCase::Exact, 1024)->text.size(), 1024u);
  EXPECT_EQ(replace_literal_text(name, "x", std::string(26, 'y'), MatchCase::Exact, 1024).error(),
            kOutputTooLarge);
  // No match: the text comes back unchanged whatever the limit.
  EXPECT_EQ(replace_literal_text(name, "z", "zz", MatchCase::Exact, 10)->count, 0u);
}

TEST(ReplaceLiteralText, LentMemoryAndOmittedUnmatchedText) {
  std::string lent(4096, 'x');
  const char* memory = lent.data();
  const ReplacementMemory spare{&lent, UnmatchedText::Omitted};
  const auto replaced = replace_literal_text("a-b-c", "-", "+", MatchCase::Exact, 1024, spare);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->text, "a+b+c");
  EXPECT_EQ(replaced->text.data(), memory);
  EXPECT_TRUE(lent.empty());
  // Without a match nothing is built, and with Omitted nothing is copied.
  std::string kept(64, 'k');
  const auto unmatched = replace_literal_text("abc", "-", "+", MatchCase::Exact, 1024, {&kept, UnmatchedText::Omitted});
  ASSERT_TRUE(unmatched);
  EXPECT_EQ(unmatched->count, 0u);
  EXPECT_TRUE(unmatched->text.empty());
  EXPECT_EQ(kept, std::string(64, 'k'));
}

TEST(ReplaceLiteralText, StaysLinearOnAdversarialText) {
  // Quadratic search would take minutes here: 8 MiB of 'a' against 64 KiB of 'a' then 'b'.
  const std::string text(8u << 20, 'a');
  const std::string find = std::string(65535, 'a') + "b";
  for (MatchCase match_case : {MatchCase::Exact, MatchCase::Ignore}) {
    const auto result = replace_literal_text(text, find, "x", match_case, 128u << 20);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->count, 0u);
  }
}

std::vector<std::size_t> reference_offsets(const std::string& text, const std::string& find, MatchCase match_case) {
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i + find.size() <= text.size();) {
    bool match = true;
    for (std::size_t k = 0; match && k < find.size(); ++k)
      match = match_case == MatchCase::Exact ? text[i + k] == find[k] : fold(text[i + k]) == fold(find[k]);
    if (!match) {
      ++i;
      continue;
    }
    offsets.push_back(i);
    i += find.size();
  }
  return offsets;
}

// Texts long enough for several 32-byte steps of the candidate scan, with
// matches at every distance from a step's edge: the 32-byte and the 16-byte
// scans find exactly the reference's matches, and an output built from kept
// offsets, from some of them, or from none, is the reference's text.
TEST(ReplaceLiteralText, WideAndNarrowScansAndEveryBuildAgreeWithReference) {
  std::mt19937 random(3232);
  const std::string alphabets[] = {"ab", "aAbB", "xyz\x01\xff-", "nNeEdl "};
  for (int round = 0; round < 4000; ++round) {
    const std::string& alphabet = alphabets[round % 4];
    const std::string text = random_text(random, alphabet, 300);
    const std::string find = random_text(random, alphabet, round % 3 == 0 ? 1 : 6, 1);
    const std::string replacement = random_text(random, alphabet, 3);
    const MatchCase match_case = round % 2 == 0 ? MatchCase::Exact : MatchCase::Ignore;
    const FoldAsciiCase fold_case = match_case == MatchCase::Ignore ? FoldAsciiCase::Yes : FoldAsciiCase::No;
    const std::vector<std::size_t> expected = reference_offsets(text, find, match_case);
    for (const ScanWidth width : {ScanWidth::Widest, ScanWidth::Narrow}) {
      const BytePattern pattern(find, fold_case, width);
      std::vector<std::size_t> found;
      pattern.scan(text, [&](std::size_t at) { found.push_back(at); });
      ASSERT_EQ(found, expected) << text << " / " << find;
    }
    const BytePattern pattern(find, fold_case);
    const std::string reference = reference_replace(text, find, replacement, match_case).text;
    for (const std::size_t max_kept : {std::size_t{0}, std::size_t{1}, std::size_t{3}, kMaxKeptMatches}) {
      const ScannedMatches matches = scan_matches(pattern, text, max_kept);
      ASSERT_EQ(matches.count, expected.size());
      std::string output(reference.size(), '\0');
      const bool changed = write_replaced(pattern, text, matches, output.data(),
                                          [&](std::size_t) { return std::string_view(replacement); });
      ASSERT_EQ(output, reference) << text << " / " << find << " keeping " << max_kept;
      ASSERT_EQ(changed, reference != text) << text << " / " << find;
    }
  }
}

// Every text length from 0 to 200, with a match (in the find's case or the
// other) placed around the 16- and 32-byte edges, at the very end, and right
// after another match, so the scan resumes at unaligned offsets: both widths
// find exactly the reference's matches. Backgrounds made of the find's own
// bytes keep partial and overlapping candidates everywhere.
TEST(ReplaceLiteralText, BothScanWidthsAgreeAtEveryLengthAndPlacement) {
  const std::string long_find = std::string(38, 'e') + "Zq";  // rare bytes far from its start
  const struct {
    std::string find;
    MatchCase match_case;
    std::string background;
  } cases[] = {
      {"x", MatchCase::Exact, "ab"},        {"Q", MatchCase::Ignore, "qQ-"},  {"-", MatchCase::Ignore, "ab"},
      {"ab", MatchCase::Exact, "aab"},      {"aB", MatchCase::Ignore, "Aab"}, {"aaa", MatchCase::Exact, "a"},
      {"aaa", MatchCase::Ignore, "aAb"},    {std::string("\xff\x00", 2), MatchCase::Exact, std::string("\x00\xff", 2)},
      {"the end", MatchCase::Ignore, "te "}, {long_find, MatchCase::Exact, "e"}, {long_find, MatchCase::Ignore, "eEz"},
  };
  const auto other_case = [](std::string text) {
    for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return text;
  };
  for (const auto& c : cases) {
    const FoldAsciiCase fold_case = c.match_case == MatchCase::Ignore ? FoldAsciiCase::Yes : FoldAsciiCase::No;
    const BytePattern wide(c.find, fold_case, ScanWidth::Widest);
    const BytePattern narrow(c.find, fold_case, ScanWidth::Narrow);
    const std::string placed = c.match_case == MatchCase::Ignore ? other_case(c.find) : c.find;
    for (std::size_t length = 0; length <= 200; ++length) {
      std::string background(length, '\0');
      for (std::size_t i = 0; i < length; ++i) background[i] = c.background[(i * 7 + i / 5) % c.background.size()];
      std::vector<std::string> texts{background};
      const std::size_t m = c.find.size();
      for (const std::size_t at : {0u, 1u, 14u, 15u, 16u, 17u, 30u, 31u, 32u, 33u, 62u, 63u, 64u, 65u}) {
        for (const std::size_t place : {at, length - m - at}) {  // from the start and from the end
          if (m > length || place > length - m) continue;
          std::string text = background;
          text.replace(place, m, placed);
          if (place >= m) text.replace(place - m, m, c.find);  // a match just before
          texts.push_back(text);
        }
      }
      for (const std::string& text : texts) {
        const std::vector<std::size_t> expected = reference_offsets(text, c.find, c.match_case);
        for (const BytePattern* pattern : {&wide, &narrow}) {
          std::vector<std::size_t> found;
          pattern->scan(text, [&](std::size_t at) { found.push_back(at); });
          ASSERT_EQ(found, expected) << testing::PrintToString(text) << " / " << c.find
                                     << (pattern == &wide ? " wide" : " narrow");
        }
      }
    }
  }
  // Repeated bytes: leftmost, non-overlapping, the rest kept.
  const auto replaced = replace_literal_text("aaaaa", "aaa", "X", MatchCase::Exact, 1024);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced->text, "Xaa");
  EXPECT_EQ(replaced->count, 1u);
}

}  // namespace
}  // namespace tarnwick
