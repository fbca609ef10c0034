// The AVX2 UTF-8 scan against the character-by-character walk it replaces:
// validity and the detection screen must agree on every sequence, wherever it
// falls relative to the 32-byte steps and to the end of the input.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/memory.h"
#include "common/utf8.h"
#include "common/utf8_scan.h"
#include "text_codec/unicode.h"

namespace tarnwick {
namespace {

using unicode::Utf8Class;

Utf8Class vector_class(const std::string& bytes) {
  const auto verdict = utf8_scan::scan_utf8_avx2(reinterpret_cast<utf8_scan::Bytes>(bytes.data()), bytes.size(),
                                                 utf8_scan::DetectionScreen::Apply);
  if (!verdict.valid) return Utf8Class::Invalid;
  return verdict.detectable ? Utf8Class::Detectable : Utf8Class::NotDetectable;
}

void expect_agreement(const std::string& bytes) {
  const Utf8Class expected = unicode::classify_utf8_by_character(bytes);
  ASSERT_EQ(vector_class(bytes), expected) << testing::PrintToString(bytes);
  const bool valid_only = utf8_scan::scan_utf8_avx2(reinterpret_cast<utf8_scan::Bytes>(bytes.data()), bytes.size(),
                                                    utf8_scan::DetectionScreen::Skip)
                              .valid;
  ASSERT_EQ(valid_only, expected != Utf8Class::Invalid) << testing::PrintToString(bytes);
}

class Utf8VectorScan : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!cpu_has_avx2()) GTEST_SKIP() << "this processor has no AVX2";
  }
};

// Offsets around the first step's end, the second's, and the tail.
constexpr std::size_t kPlacements[] = {0, 1, 29, 30, 31, 32, 33, 61, 62, 63, 64};

// Every sequence of up to four bytes drawn from the values where the rules
// change, placed at every offset around a step boundary, then cut off there.
TEST_F(Utf8VectorScan, BoundaryBytesAgreeWithTheWalkAtEveryPlacement) {
  const unsigned char edges[] = {0x00, 0x09, 0x0B, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                 0xAF, 0xB7, 0xBE, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0,
                                 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
  std::mt19937 random(32);
  for (const unsigned char a : edges) {
    for (const unsigned char b : edges) {
      for (const unsigned char c : edges) {
        // A fourth byte from the edges too, chosen at random to keep the run short.
        const unsigned char d = edges[random() % std::size(edges)];
        const std::string sequence{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)};
        for (const std::size_t at : kPlacements) {
          const std::string text = std::string(at, 'x') + sequence;
          expect_agreement(text);
          expect_agreement(text + std::string(40, 'y'));
        }
      }
    }
  }
}

// Every scalar value once, after a step's worth of text and before its end:
// the screen refuses exactly what the character-by-character screen refuses.
TEST_F(Utf8VectorScan, ScreenAgreesForEveryScalarValue) {
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string text(30 + c % 5, 'a');
    append_utf8(text, c);
    expect_agreement(text);
  }
}

// Random mixes of valid characters (screen failures among them) with
// truncations and stray bytes, of every length up to a few steps.
TEST_F(Utf8VectorScan, RandomTextAgreesWithTheWalk) {
  std::mt19937 random(20261209);
  const std::string pieces[] = {"plain text ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xEF\xBF\xBD",
                                "\n\t", "\xC2\x85", "\xEF\xB7\x90", "\xF4\x8F\xBF\xBF", "\x01", "\x7F",
                                "\x80", "\xE2\x82", "\xF0\x9F\x98", "\xC0\xAF", "\xED\xA0\x80", "\xFF"};
  for (int round = 0; round < 30000; ++round) {
    std::string text;
    const int count = std::uniform_int_distribution<int>(0, 24)(random);
    for (int i = 0; i < count; ++i) {
      const int pick = std::uniform_int_distribution<int>(0, 200)(random);
      text += pick < 180 ? pieces[pick % 6] : pieces[6 + pick % 11];
    }
    expect_agreement(text);
  }
}

}  // namespace
}  // namespace tarnwick
