// Case-preserving replacement in text and raw bytes against a slow reference
// of the rule, on random texts over small alphabets.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "literal/literal.h"

namespace tarnwick {
namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
char lower(char c) { return is_upper(c) ? static_cast<char>(c + 32) : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The rule as stated, step by step: gather the match's ASCII letters, then ask
// each question in turn.
std::string reference_form(const std::string& matched, const std::string& typed) {
  std::string letters;
  for (const char c : matched) {
    if (is_letter(c)) letters += c;
  }
  if (letters.empty()) return typed;
  bool all_lower = true, all_upper = true, rest_lower = true;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    all_lower = all_lower && !is_upper(letters[i]);
    all_upper = all_upper && is_upper(letters[i]);
    if (i > 0) rest_lower = rest_lower && !is_upper(letters[i]);
  }
  std::string form = typed;
  if (all_lower) {
    for (char& c : form) c = lower(c);
  } else if (all_upper && letters.size() >= 2) {
    for (char& c : form) c = upper(c);
  } else if (is_upper(letters[0]) && rest_lower) {
    for (char& c : form) {
      if (is_letter(c)) {
        c = upper(c);
        break;
      }
    }
  }
  return form;
}

// Try every position, compare with A-Z folded, skip past each match.
std::string reference_replace(const std::string& text, const std::string& find, const std::string& typed,
                              bool fold) {
  std::string result;
  for (std::size_t i = 0; i < text.size();) {
    bool match = i + find.size() <= text.size();
    for (std::size_t k = 0; match && k < find.size(); ++k)
      match = fold ? lower(text[i + k]) == lower(find[k]) : text[i + k] == find[k];
    if (!match) {
      result += text[i++];
      continue;
    }
    result += reference_form(text.substr(i, find.size()), typed);
    i += find.size();
  }
  return result;
}

// Symbols, not bytes: "é" and "Σ" are two bytes each in UTF-8.
std::string random_text(std::mt19937& random, const std::vector<std::string>& alphabet, std::size_t min_length,
                        std::size_t max_length) {
  std::uniform_int_distribution<std::size_t> length(min_length, max_length);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string text;
  for (std::size_t n = length(random); n > 0; --n) text += alphabet[pick(random)];
  return text;
}

// ASCII and BMP text as UTF-16 LE, a code unit at a time.
std::string utf16le(const std::string& utf8) {
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    auto unit = static_cast<unsigned char>(utf8[i]);
    char32_t code_point = unit;
    if (unit >= 0xC0) code_point = ((unit & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
    bytes += static_cast<char>(code_point & 0xFF);
    bytes += static_cast<char>(code_point >> 8);
  }
  return bytes;
}

TEST(PreserveCase, ExamplesOfTheRule) {
  struct Case {
    const char* matched;
    const char* typed;
    const char* expected;
  };
  const Case cases[] = {
      {"sympy", "MathKit", "mathkit"},     {"SYMPY", "MathKit", "MATHKIT"},  {"Sympy", "MathKit", "MathKit"},
      {"SymPy", "MathKit", "MathKit"},     {"sYMPY", "mathKit", "mathKit"},  {"S", "kit", "Kit"},
      {"s", "KIT", "kit"},                 {"2-S", "kit", "Kit"},            {"2", "Kit", "Kit"},
      {"SY-2", "kit-é", "KIT-é"},          {"Sy", "élan", "éLan"},           {"SY", "Σίγμα-k", "Σίγμα-K"},
      {"Sy", "123", "123"},
  };
  for (const Case& c : cases) {
    const Replacement replacement(c.matched, c.typed, MatchCase::Ignore, PreserveCase::Yes);
    EXPECT_EQ(replacement.for_match(c.matched), c.expected) << c.matched << " -> " << c.typed;
    EXPECT_EQ(reference_form(c.matched, c.typed), c.expected) << c.matched << " -> " << c.typed;
  }
}

TEST(PreserveCase, WrittenAsTypedUnlessPreservingWithoutMatchCase) {
  // Match case on: every match has the find text's case, and preserving would
  // lower-case the replacement for a lower-case find text.
  const Replacement exact("sympy", "MathKit", MatchCase::Exact, PreserveCase::Yes);
  EXPECT_FALSE(exact.preserves_case());
  EXPECT_EQ(replace_literal_text("sympy", "sympy", exact, MatchCase::Exact, 100)->text, "MathKit");
  const Replacement off("sympy", "MathKit", MatchCase::Ignore, PreserveCase::No);
  EXPECT_EQ(replace_literal_text("SYMPY sympy", "sympy", off, MatchCase::Ignore, 100)->text, "MathKit MathKit");
  // Without an ASCII letter in the find text, no match has a case to keep.
  EXPECT_FALSE(Replacement("Σ9", "MathKit", MatchCase::Ignore, PreserveCase::Yes).preserves_case());
}

TEST(PreserveCase, TextAndBytesAgreeWithReferenceOnRandomInputs) {
  std::mt19937 random(20260112);
  const std::vector<std::vector<std::string>> alphabets = {
      {"s", "S", "y", "Y"},                        // every find overlaps candidates all the time
      {"a", "A", "1", "\xc3\xa9"},                 // digits and é
      {"a", "A", "b", "B", "\xce\xa3", "\xcf\x83"},  // Σ and σ never fold
      {"x", "Y", "z", "-", "7"},
  };
  // One find per alphabet whose symbols all differ: its matches cannot overlap candidates.
  const std::vector<std::string> distinct_finds = {"sY", "a\xc3\xa9" "1", "b\xce\xa3" "A", "xY-7"};
  for (int round = 0; round < 20000; ++round) {
    const auto& alphabet = alphabets[round % alphabets.size()];
    const std::string text = random_text(random, alphabet, 0, 30);
    const std::string find =
        round % 3 == 0 ? distinct_finds[round % alphabets.size()] : random_text(random, alphabet, 1, 4);
    const std::string typed = random_text(random, alphabet, 0, 5);
    const Replacement replacement(find, typed, MatchCase::Ignore, PreserveCase::Yes);
    const std::string expected = reference_replace(text, find, typed, true);
    const auto replaced = replace_literal_text(text, find, replacement, MatchCase::Ignore, 1000);
    ASSERT_TRUE(replaced) << replaced.error();
    ASSERT_EQ(replaced->text, expected) << text << " / " << find << " -> " << typed;
    // Matches that already hold their form change nothing, which callers rely on.
    EXPECT_EQ(replaced->changed, expected != text) << text << " / " << find << " -> " << typed;

    // Raw bytes fold only for an ASCII find text; UTF-16 shows letters in one byte of a unit.
    const bool ascii = std::ranges::none_of(find, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    const FoldAsciiCase fold = ascii ? FoldAsciiCase::Yes : FoldAsciiCase::No;
    const std::string bytes_expected = reference_replace(text, find, typed, ascii);
    for (const EncodingKind kind : {EncodingKind::Utf8, EncodingKind::Utf16Le}) {
      const auto literals = encode_binary_literals(find, replacement, {kind, 0});
      ASSERT_TRUE(literals) << literals.error();
      const bool utf16 = kind == EncodingKind::Utf16Le;
      const auto bytes = replace_literal_bytes(utf16 ? utf16le(text) : text, *literals, fold, Resizable::Yes);
      ASSERT_TRUE(bytes) << bytes.error();
      const std::string expected_bytes = utf16 ? utf16le(bytes_expected) : bytes_expected;
      EXPECT_EQ(bytes->bytes.value_or(utf16 ? utf16le(text) : text), expected_bytes)
          << text << " / " << find << " -> " << typed << (utf16 ? " (UTF-16)" : "");
    }
  }
}

TEST(PreserveCase, EveryCodePageShowsLetterCaseInOneByte) {
  const Replacement replacement("Sym-py", "Num-pY", MatchCase::Ignore, PreserveCase::Yes);
  std::size_t checked = 0;
  for (const EncodingRow& row : encoding_table()) {
    const EncodingChoice choice{row.kind, row.code_page};
    const auto text = encode_text("sym-py SYM-PY Sym-py SyM-py.", row.kind == EncodingKind::Auto ? EncodingKind::Utf8 : row.kind,
                                  row.code_page, ByteOrderMark::Omit);
    if (!text) continue;  // a converter this system lacks
    const auto literals = encode_binary_literals("sym-py", replacement, choice);
    ASSERT_TRUE(literals) << row.label << ": " << literals.error();
    ASSERT_TRUE(literals->case_forms) << row.label;
    EXPECT_EQ(literals->case_forms->letters.size(), 5u) << row.label;
    const auto expected = encode_text("num-py NUM-PY Num-pY Num-pY.",
                                      row.kind == EncodingKind::Auto ? EncodingKind::Utf8 : row.kind, row.code_page,
                                      ByteOrderMark::Omit);
    const auto replaced = replace_literal_bytes(*text, *literals, FoldAsciiCase::Yes, Resizable::No);
    ASSERT_TRUE(replaced) << row.label << ": " << replaced.error();
    ASSERT_TRUE(replaced->bytes) << row.label;
    EXPECT_EQ(*replaced->bytes, *expected) << row.label;
    ++checked;
  }
  EXPECT_GE(checked, 50u);
}

}  // namespace
}  // namespace tarnwick
