// The review's excerpts of text and raw binary edits, composed from what
// plan_content_edit planned for files written by Python.
#include <gtest/gtest.h>

#include "common/utf8.h"
#include "content/content.h"
#include "support/excerpt_marks.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

// Plans the edit as the preview does, then composes its excerpts.
std::vector<ExcerptLine> excerpts(std::string_view bytes, std::string_view find, std::string_view replacement,
                                  ContentOptions options = {}, MatchCase match_case = MatchCase::Exact,
                                  std::string_view path = "/data/file") {
  const auto edit = plan_content_edit(path, bytes, find, replacement, match_case, options);
  EXPECT_TRUE(edit && edit->new_bytes) << (edit ? "no change" : edit.error());
  if (!edit || !edit->new_bytes) return {};
  const auto lines = compose_content_excerpts(path, bytes, *edit->new_bytes,
                                              edit->binary ? EditedAs::BinaryOrResource : EditedAs::Text, find,
                                              replacement, match_case, options);
  EXPECT_TRUE(lines) << lines.error();
  return lines ? *lines : std::vector<ExcerptLine>{};
}

using Lines = std::vector<std::string>;

// Python writes the files, so the encodings are not this program's own.
class TextExcerpts : public ::testing::Test {
 protected:
  std::string written(const std::string& python_bytes) {
    const std::string path = folder_ / "file";
    const std::string command = "python3 -c \"import sys; open(sys.argv[1], 'wb').write(" + python_bytes + ")\" '" +
                                path + "'";
    EXPECT_EQ(testing::run_command(command), 0) << command;
    return testing::read_file(path);
  }
  testing::TempDir folder_;
};

TEST_F(TextExcerpts, MatchesAtLineStartAndEndWithCrLfAndLoneCrLineEnds) {
  const std::string bytes = written("b'tarn first\\r\\nlast is tarn\\rno match\\r\\n\\nx tarn'");
  EXPECT_EQ(testing::marked_texts(excerpts(bytes, "tarn", "tarnwick")),
            (Lines{"  1: [tarn] first", "   → {tarnwick} first", "  2: last is [tarn]", "   → last is {tarnwick}",
                   "  5: x [tarn]", "   → x {tarnwick}"}));
}

TEST_F(TextExcerpts, SeveralMatchesOnOneLineShareTheirExcerptAndTheRestAreCounted) {
  const std::string bytes = written("b'tarn, Tarn and tarn\\n' + b'one tarn\\n' * 4");
  EXPECT_EQ(testing::marked_texts(excerpts(bytes, "tarn", "fen", {}, MatchCase::Ignore)),
            (Lines{"  1: [tarn], [Tarn] and [tarn]", "   → {fen}, {fen} and {fen}", "  … and 4 more matches in this file"}));
  // Five matches on five lines: three excerpts, then the count of the rest.
  const std::string five = written("b''.join(b'line %d tarn\\n' % i for i in range(1, 6))");
  EXPECT_EQ(testing::marked_texts(excerpts(five, "tarn", "fen")),
            (Lines{"  1: line 1 [tarn]", "   → line 1 {fen}", "  2: line 2 [tarn]", "   → line 2 {fen}",
                   "  3: line 3 [tarn]", "   → line 3 {fen}", "  … and 2 more matches in this file"}));
}

TEST_F(TextExcerpts, LongLinesAreCutOnBothSidesAtCharacterBoundaries) {
  // 150 three-byte characters before the match, 150 two-byte ones after it.
  const std::string bytes = written("('€' * 150 + 'tarn' + 'é' * 150 + '\\n').encode()");
  const auto lines = excerpts(bytes, "tarn", "fen");
  ASSERT_EQ(lines.size(), 2u);
  std::string expected_before = "  1: …";
  for (int i = 0; i < 47; ++i) expected_before += "€";
  expected_before += "[tarn]";
  for (int i = 0; i < 47; ++i) expected_before += "é";
  expected_before += "…";
  EXPECT_EQ(testing::marked_texts(lines)[0], expected_before);
  for (const ExcerptLine& line : lines) {
    EXPECT_TRUE(is_valid_utf8(line.text));
    EXPECT_LE(count_code_points(line.text), 5 + kExcerptColumns);
  }
  // Near the start of the line the room left there goes to the other side.
  const std::string early = written("('ab tarn ' + 'x' * 200).encode()");
  EXPECT_EQ(testing::marked_texts(excerpts(early, "tarn", "fen"))[0], "  1: ab [tarn] " + std::string(91, 'x') + "…");
}

TEST_F(TextExcerpts, Utf16LineNumbersCountDecodedLines) {
  const std::string bytes = written("'first\\r\\nsecond\\n\\tthird tarn\\x0cpage\\n'.encode('utf-16')");
  ASSERT_TRUE(bytes.starts_with("\xFF\xFE"));
  EXPECT_EQ(testing::marked_texts(excerpts(bytes, "tarn", "fen")),
            (Lines{"  3: \\tthird [tarn]\\fpage", "   → \\tthird {fen}\\fpage"}));
}

TEST_F(TextExcerpts, AMatchWiderThanTheExcerptIsCutInsideItsMark) {
  const std::string find(150, 'q');
  const std::string bytes = "x " + find + " y\n";
  const auto lines = testing::marked_texts(excerpts(bytes, find, "short"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "  1: …[" + std::string(98, 'q') + "]…");
  EXPECT_EQ(lines[1], "   → …{short}…");
}

TEST(BinaryExcerpts, MatchesAtTheStartAndTheEndOfTheData) {
  const std::string bytes = std::string("tarn\x00\x01\x02\x03\x04\x05\x89PNGtarn", 18);
  const ContentOptions binary{{}, Resizable::No, ContentMode::BinaryOnly};
  EXPECT_EQ(testing::marked_texts(excerpts(bytes, "tarn", "kern", binary)),
            (Lines{"  0x0: [74 61 72 6E] 00 01 02 03  [tarn]....", "     → {6B 65 72 6E} 00 01 02 03  {kern}....",
                   "  0xE: 89 50 4E 47 [74 61 72 6E]  .PNG[tarn]", "     → 89 50 4E 47 {6B 65 72 6E}  .PNG{kern}"}));
}

TEST(BinaryExcerpts, ResizedMatchesAreShownWhereTheyLandAndLongPatternsAreCut) {
  const std::string bytes = std::string("\x01tarn\x02tarn\x03tarn\x04tarn\x05", 21);
  const ContentOptions resizable{{}, Resizable::Yes, ContentMode::BinaryOnly};
  // Neighbouring matches show, marked, as far as the window reaches.
  EXPECT_EQ(testing::marked_texts(excerpts(bytes, "TARN", "tarnwick", resizable, MatchCase::Ignore)),
            (Lines{"  0x1: 01 [74 61 72 6E] 02 [74 61 72]  .[tarn].[tar]",
                   "     → 01 {74 61 72 6E 77 69 63 6B} 02 {74 61 72}  .{tarnwick}.{tar}",
                   "  0x6: [61 72 6E] 02 [74 61 72 6E] 03 [74 61 72]  [arn].[tarn].[tar]",
                   "     → {69 63 6B} 02 {74 61 72 6E 77 69 63 6B} 03 {74 61 72}  {ick}.{tarnwick}.{tar}",
                   "  0xB: [61 72 6E] 03 [74 61 72 6E] 04 [74 61 72]  [arn].[tarn].[tar]",
                   "     → {69 63 6B} 03 {74 61 72 6E 77 69 63 6B} 04 {74 61 72}  {ick}.{tarnwick}.{tar}",
                   "  … and 1 more matches in this file"}));
  const std::string long_find = "a-twenty-byte-needle";
  const std::string data = std::string("\x00\x00", 2) + long_find + std::string("\x00", 1);
  const ContentOptions fixed{{}, Resizable::No, ContentMode::BinaryOnly};
  EXPECT_EQ(testing::marked_texts(excerpts(data, long_find, "A-TWENTY-BYTE-NEEDLE", fixed)),
            (Lines{"  0x2: 00 00 [61 2D 74 77 65 6E 74 79 2D 62 79 74 65 2D 6E 65] …  ..[a-twenty-byte-ne]…",
                   "     → 00 00 {41 2D 54 57 45 4E 54 59 2D 42 59 54 45 2D 4E 45} …  ..{A-TWENTY-BYTE-NE}…"}));
}

}  // namespace
}  // namespace tarnwick
