// The fixed-width path for RSC7 resources of unknown kind, end to end through edit_rsc7_resource
// and through the content dispatcher, re-inflated with zlib.
#include <gtest/gtest.h>

#include "content/content.h"
#include "resource/resource.h"
#include "resource/rsc7.h"
#include "resource/rsc7_file.h"

namespace tarnwick {
namespace {

using testing::one_page_flags;

constexpr char kLayoutNotice[] =
    "RSC7 page layout and unmatched decoded bytes are preserved. Embedded hashes, checksums, signatures and external "
    "game references are not rebuilt; game compatibility requires independent validation.";
constexpr char kRecompressedNotice[] =
    "RSC7 output is recompressed with bounded LZ77 and Huffman coding, with stored blocks when smaller. Its "
    "compressed size may differ from the original resource.";
constexpr char kSummary[] = "GTA RSC7 resource · decoded fixed-width literal replacement";

Result<Rsc7Outcome> edit(std::string_view file, std::string_view find, std::string_view replacement,
                         MatchCase match_case = MatchCase::Exact, EncodingChoice encoding = {}) {
  return edit_rsc7_resource(file, find, replacement, match_case, encoding, ResourceKind::None);
}

// The pages inside a new file, as zlib reads them, and what follows the stream.
struct Reopened {
  std::string pages;
  std::string trailing;
};
Reopened reopen(const std::string& file) {
  const auto inflated = testing::zlib_inflate_raw(std::string_view(file).substr(16));
  if (!inflated.has_value()) return {};
  return {inflated->bytes, file.substr(16 + inflated->consumed_bytes)};
}

TEST(FixedWidth, LiteralInBothSegmentsIsReplacedAndTheHeaderKept) {
  // 8,192 system bytes and 16,384 graphics bytes, "rock" in each segment.
  const std::string pages = testing::pages_with(8192 + 16384, "rock", {100, 8192 + 50, 24570});
  const std::string file = testing::rsc7_file(0xF0020000, one_page_flags(1), pages, "xyz");
  const auto result = edit(file, "rock", "sand");
  ASSERT_TRUE(result.has_value()) << result.error();
  const auto* changed = std::get_if<Rsc7Edit>(&*result);
  ASSERT_NE(changed, nullptr);
  EXPECT_EQ(changed->bytes.substr(0, 16), file.substr(0, 16));
  std::string expected = pages;
  for (const std::size_t offset : {100u, 8192u + 50u, 24570u}) expected.replace(offset, 4, "sand");
  const Reopened reopened = reopen(changed->bytes);
  EXPECT_EQ(reopened.pages, expected);
  EXPECT_EQ(reopened.trailing, "xyz");
  EXPECT_EQ(changed->replacements, 3u);
  EXPECT_EQ(changed->summary, kSummary);
  EXPECT_EQ(changed->notices,
            (std::vector<Notice>{kLayoutNotice, kRecompressedNotice,
                                 "Preserved 3 opaque trailing bytes after the RSC7 DEFLATE stream exactly. They are "
                                 "not searched or rewritten; their file offset may move after recompression."}));
}

TEST(FixedWidth, AdlerTrailerIsRewrittenForTheNewPages) {
  const std::string pages = testing::pages_with(8192, "rock", {4000});
  const std::string file = testing::rsc7_file(one_page_flags(0), 0, pages, testing::adler_trailer(pages));
  const auto result = edit(file, "rock", "sand");
  ASSERT_TRUE(result.has_value()) << result.error();
  const auto& changed = std::get<Rsc7Edit>(*result);
  const Reopened reopened = reopen(changed.bytes);
  EXPECT_EQ(reopened.trailing, testing::adler_trailer(reopened.pages));
  EXPECT_NE(reopened.trailing, testing::adler_trailer(pages));
  ASSERT_EQ(changed.notices.size(), 3u);
  EXPECT_NE(changed.notices[2].find("Adler-32"), std::string::npos);
}

TEST(FixedWidth, NoMatchMeansNoChangeEvenWithUnequalWidths) {
  const std::string file = testing::rsc7_file(one_page_flags(0), 0, testing::pages_with(8192, "", {}));
  for (const char* replacement : {"sand", "sandstone"}) {
    const auto result = edit(file, "rock", replacement);
    ASSERT_TRUE(result.has_value()) << result.error();
    EXPECT_TRUE(std::holds_alternative<Rsc7NoChange>(*result));
  }
}

TEST(FixedWidth, UnequalEncodedWidthsAreRefusedEvenWithResizingAllowed) {
  const std::string file = testing::rsc7_file(one_page_flags(0), 0, testing::pages_with(8192, "rock", {10}));
  const std::string message =
      "RSC7 resources require equal encoded find and replacement widths (4 and 3 bytes). Resizing embedded resource "
      "literals would invalidate page offsets; raw resizable mode cannot override this safeguard.";
  const auto direct = edit(file, "rock", "san");
  ASSERT_FALSE(direct.has_value());
  EXPECT_EQ(direct.error(), message);

  // Through the dispatcher with "Allow length changes in raw binary files" on.
  ContentOptions options;
  options.mode = ContentMode::BinaryOnly;
  options.resizable = Resizable::Yes;
  const auto planned = plan_content_edit("/tmp/model.bin", file, "rock", "san", MatchCase::Exact, options);
  ASSERT_FALSE(planned.has_value());
  EXPECT_EQ(planned.error(), message);
}

TEST(FixedWidth, CaseFoldingAndEncodingsFollowTheBinaryRules) {
  const std::string pages = testing::pages_with(8192, "ROCK", {10}).replace(200, 8, std::string("r\0o\0c\0k\0", 8));
  const std::string file = testing::rsc7_file(one_page_flags(0), 0, pages);

  const auto exact = edit(file, "rock", "sand", MatchCase::Exact);
  ASSERT_TRUE(exact.has_value());
  EXPECT_TRUE(std::holds_alternative<Rsc7NoChange>(*exact));

  const auto folded = edit(file, "rock", "sand", MatchCase::Ignore);
  ASSERT_TRUE(folded.has_value()) << folded.error();
  EXPECT_EQ(reopen(std::get<Rsc7Edit>(*folded).bytes).pages, std::string(pages).replace(10, 4, "sand"));

  const auto wide = edit(file, "rock", "sand", MatchCase::Exact, {EncodingKind::Utf16Le, 0});
  ASSERT_TRUE(wide.has_value()) << wide.error();
  EXPECT_EQ(reopen(std::get<Rsc7Edit>(*wide).bytes).pages,
            std::string(pages).replace(200, 8, std::string("s\0a\0n\0d\0", 8)));
}

TEST(FixedWidth, DispatcherSendsUnknownExtensionsHereAndPassesTheOutcomeOn) {
  const std::string pages = testing::pages_with(8192, "rock", {10});
  const std::string file = testing::rsc7_file(one_page_flags(0), 0, pages);
  ContentOptions options;
  options.mode = ContentMode::TextAndBinary;
  const auto planned = plan_content_edit("/tmp/model.rpf_part", file, "rock", "sand", MatchCase::Exact, options);
  ASSERT_TRUE(planned.has_value()) << planned.error();
  ASSERT_TRUE(planned->new_bytes.has_value());
  EXPECT_EQ(reopen(*planned->new_bytes).pages, std::string(pages).replace(10, 4, "sand"));
  EXPECT_EQ(planned->summary, kSummary);
  EXPECT_EQ(planned->match_count, 1u);
  EXPECT_TRUE(planned->binary);
  EXPECT_TRUE(planned->game_resource);
}

TEST(FixedWidth, DecodeRefusalsComeFirstWhateverTheKind) {
  for (const ResourceKind kind : {ResourceKind::None, ResourceKind::Yft, ResourceKind::Ytd, ResourceKind::Ydr}) {
    const auto result = edit_rsc7_resource("RSC7 short", "a", "b", MatchCase::Exact, {}, kind);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), "The RSC7 resource header is missing or truncated.");
  }
}

}  // namespace
}  // namespace tarnwick
