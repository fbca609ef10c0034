// The RSC7 container: header and page-flag checks, decoding with its limits, trailing
// bytes and the Adler-32 trailer, and re-assembly within the 128 MiB bound.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include "resource/deflate/deflate.h"
#include "resource/rsc7.h"
#include "resource/rsc7_file.h"

namespace tarnwick {
namespace {

using testing::one_page_flags;
using testing::rsc7_file;
using testing::rsc7_header;

constexpr char kHeaderMessage[] = "The RSC7 resource header is missing or truncated.";
constexpr char kRegionMessage[] = "RSC7 decoded page region exceeds the 256 MiB safety limit.";
constexpr char kTotalMessage[] = "RSC7 total decoded pages exceed the 256 MiB safety limit.";

std::string decode_error(std::string_view file) {
  const auto result = decode_rsc7(file);
  return result.has_value() ? "decoded" : result.error();
}

TEST(Rsc7Header, ShortOrForeignFilesAreRefused) {
  const std::string valid = rsc7_file(one_page_flags(0), 0, std::string(8192, 'a'));
  EXPECT_EQ(decode_error(""), kHeaderMessage);
  EXPECT_EQ(decode_error(valid.substr(0, 15)), kHeaderMessage);
  EXPECT_EQ(decode_error("RSC8" + valid.substr(4)), kHeaderMessage);
  EXPECT_EQ(decode_error("rsc7" + valid.substr(4)), kHeaderMessage);
  EXPECT_EQ(decode_error(valid), "decoded");
}

TEST(Rsc7PageFlags, SizesAndCountsOfEachField) {
  struct Case {
    std::uint32_t flags;
    std::uint64_t size;
    std::uint64_t pages;
  };
  const Case cases[] = {
      {0, 0, 0},
      {0x00020000, 8192, 1},                   // one page of 16 x 512
      {0x0002000D, 64ull << 20, 1},            // shift 13: one 64 MiB page
      {0x0002000E, 128ull << 20, 1},           // shift 14: 128 MiB
      {0xF0020000, 8192, 1},                   // the top four bits do not count
      {0x00000010, 256 * 512, 1},              // bit 4
      {0x00000060, 3 * 128 * 512, 3},          // bits 5-6
      {0x00000780, 15 * 64 * 512, 15},         // bits 7-10
      {0x0001F800, 63 * 32 * 512, 63},         // bits 11-16
      {0x00FE0000, 127 * 16 * 512, 127},       // bits 17-23
      {0x0F000000, 15 * 512, 4},               // bits 24-27: 8 + 4 + 2 + 1 base pages
      {0x0FFFFFFF, 5663ull << 24, 213},        // every field full at shift 15
      {0x08000003, 4096, 1},                   // one base page of 512 << 3
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(page_flags_size(c.flags), c.size);
    EXPECT_EQ(page_flags_count(c.flags), c.pages);
  }
}

TEST(Rsc7Limits, SegmentsAndTotalAreCheckedBeforeDecoding) {
  // No stream at all: the size checks come first. Two pages of 16 x 16 MiB are 512 MiB.
  const std::uint32_t two_largest_pages = (2u << 17) | 15;
  EXPECT_EQ(decode_error(rsc7_header(165, two_largest_pages, 0)), kRegionMessage);
  EXPECT_EQ(decode_error(rsc7_header(165, 0, two_largest_pages)), kRegionMessage);
  EXPECT_EQ(decode_error(rsc7_header(165, one_page_flags(15), one_page_flags(0))), kTotalMessage);
  EXPECT_EQ(decode_error(rsc7_header(165, one_page_flags(14), one_page_flags(14))),
            "Cannot decode the RSC7 raw DEFLATE stream: Truncated DEFLATE stream.");
}

TEST(Rsc7Limits, ExactlyTwoHundredFiftySixMiBOfPagesDecode) {
  const std::string pages(256u << 20, '\x5A');
  const auto resource = decode_rsc7(rsc7_file(one_page_flags(14), one_page_flags(14), pages));
  ASSERT_TRUE(resource.has_value()) << resource.error();
  EXPECT_TRUE(resource->decoded == pages);
  EXPECT_EQ(resource->system_size, 128u << 20);
  EXPECT_EQ(resource->graphics_size, 128u << 20);
}

TEST(Rsc7Decode, StreamLengthMismatchesAreRefusedBothWays) {
  EXPECT_EQ(decode_error(rsc7_file(one_page_flags(0), 0, std::string(8000, 'a'))),
            "RSC7 page flags describe 8192 decoded bytes, but the stream contains 8000. No content was changed.");
  EXPECT_EQ(decode_error(rsc7_file(one_page_flags(0), 0, std::string(8193, 'a'))),
            "Cannot decode the RSC7 raw DEFLATE stream: DEFLATE output exceeds the configured size limit.");
  const std::string valid = rsc7_file(one_page_flags(0), 0, std::string(8192, 'a'));
  EXPECT_EQ(decode_error(valid.substr(0, valid.size() - 1)),
            "Cannot decode the RSC7 raw DEFLATE stream: Truncated DEFLATE stream.");
}

TEST(Rsc7Decode, FieldsSegmentsAndTrailingBytes) {
  const std::string pages = testing::make_data(testing::DataShape::HalfRandom, 8192 + 16384, 9);
  const std::string stream = testing::zlib_deflate_raw(pages, 6);
  const std::string file = rsc7_header(162, 0xF0020000, one_page_flags(1)) + stream + "xyz";
  const auto resource = decode_rsc7(file);
  ASSERT_TRUE(resource.has_value()) << resource.error();
  EXPECT_EQ(resource->header, file.substr(0, 16));
  EXPECT_EQ(resource->version, 162u);
  EXPECT_EQ(resource->system_flags, 0xF0020000u);
  EXPECT_EQ(resource->system_size, 8192u);
  EXPECT_EQ(resource->graphics_size, 16384u);
  EXPECT_EQ(resource->system_pages, 1u);
  EXPECT_EQ(resource->graphics_pages, 1u);
  EXPECT_EQ(resource->decoded, pages);
  EXPECT_EQ(resource->stream_bytes, stream.size());
  EXPECT_EQ(resource->trailing, "xyz");
  EXPECT_EQ(classify_trailer(*resource), TrailerHandling::Opaque);
  EXPECT_EQ(trailer_notice(*resource, TrailerHandling::Opaque),
            "Preserved 3 opaque trailing bytes after the RSC7 DEFLATE stream exactly. They are not searched or "
            "rewritten; their file offset may move after recompression.");
}

TEST(Rsc7Decode, EmptyGraphicsSegmentIsValid) {
  const auto resource = decode_rsc7(rsc7_file(one_page_flags(0), 0, std::string(8192, 'q')));
  ASSERT_TRUE(resource.has_value());
  EXPECT_EQ(resource->graphics_size, 0u);
  EXPECT_EQ(classify_trailer(*resource), TrailerHandling::None);
}

TEST(Rsc7Trailer, OnlyFourBytesHoldingTheAdlerOfThePagesAreAChecksum) {
  const std::string pages = testing::make_data(testing::DataShape::Text, 8192, 4);
  const std::string adler = testing::adler_trailer(pages);
  EXPECT_EQ(adler32(pages), static_cast<std::uint32_t>(static_cast<std::uint8_t>(adler[0]) << 24 |
                                                      static_cast<std::uint8_t>(adler[1]) << 16 |
                                                      static_cast<std::uint8_t>(adler[2]) << 8 |
                                                      static_cast<std::uint8_t>(adler[3])));
  std::string wrong = adler;
  wrong[3] = static_cast<char>(wrong[3] ^ 1);
  std::string reversed(adler.rbegin(), adler.rend());
  const struct {
    std::string trailing;
    TrailerHandling expected;
  } cases[] = {{adler, TrailerHandling::Adler32},
               {wrong, TrailerHandling::Opaque},
               {reversed, TrailerHandling::Opaque},  // little-endian is not recognised
               {adler + std::string(1, '\0'), TrailerHandling::Opaque},
               {adler.substr(0, 3), TrailerHandling::Opaque}};
  for (const auto& c : cases) {
    const std::string file = rsc7_file(one_page_flags(0), 0, pages, c.trailing);
    const auto resource = decode_rsc7(file);
    ASSERT_TRUE(resource.has_value());
    EXPECT_EQ(classify_trailer(*resource), c.expected);
  }
}

TEST(Rsc7Assemble, HeaderStreamAndTrailer) {
  const std::string pages = testing::make_data(testing::DataShape::Text, 8192, 4);
  const std::string file = rsc7_file(one_page_flags(0), 0x30000000, pages, testing::adler_trailer(pages), 171);
  const auto resource = decode_rsc7(file);
  ASSERT_TRUE(resource.has_value());
  std::string changed = pages;
  changed[10] = '#';

  // New system flags replace bytes 8-11 only; the Adler-32 trailer follows the new pages.
  const auto assembled = assemble_rsc7(*resource, changed, 0xA0020001u, TrailerHandling::Adler32);
  ASSERT_TRUE(assembled.has_value()) << assembled.error();
  EXPECT_EQ(assembled->substr(0, 8), file.substr(0, 8));
  EXPECT_EQ(assembled->substr(8, 4), testing::u32_le(0xA0020001u));
  EXPECT_EQ(assembled->substr(12, 4), file.substr(12, 4));
  const std::string stream = assembled->substr(16, assembled->size() - 20);
  EXPECT_EQ(stream, *deflate_bounded(changed, 1u << 30));
  EXPECT_EQ(assembled->substr(assembled->size() - 4), testing::adler_trailer(changed));

  // Without new flags the header is the input's, and an opaque trailer is copied as it was.
  const auto kept = assemble_rsc7(*resource, changed, std::nullopt, TrailerHandling::Opaque);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(kept->substr(0, 16), file.substr(0, 16));
  EXPECT_EQ(kept->substr(kept->size() - 4), testing::adler_trailer(pages));
  EXPECT_EQ(trailer_notice(*resource, TrailerHandling::Adler32),
            "Rewrote the 4-byte Adler-32 checksum after the RSC7 DEFLATE stream for the new decoded pages. Its file "
            "offset may move after recompression.");
}

TEST(Rsc7Assemble, WholeFileStaysWithinOneHundredTwentyEightMiB) {
  // Trailing bytes leave exactly 2 bytes for the stream of empty pages (03 00), then 1.
  constexpr std::size_t kFileLimit = 128u << 20;
  void* zeros = mmap(nullptr, kFileLimit, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(zeros, MAP_FAILED);
  Rsc7Resource resource;
  resource.header = rsc7_header(165, 0, 0);
  resource.trailing = std::string_view(static_cast<const char*>(zeros), kFileLimit - 16 - 2);
  const auto fits = assemble_rsc7(resource, "", std::nullopt, TrailerHandling::Opaque);
  ASSERT_TRUE(fits.has_value()) << fits.error();
  EXPECT_EQ(fits->size(), kFileLimit);
  resource.trailing = std::string_view(static_cast<const char*>(zeros), kFileLimit - 16 - 1);
  const auto too_big = assemble_rsc7(resource, "", std::nullopt, TrailerHandling::Opaque);
  ASSERT_FALSE(too_big.has_value());
  EXPECT_EQ(too_big.error(), "DEFLATE output exceeds the configured size limit.");
  munmap(zeros, kFileLimit);
}

TEST(Rsc7Kind, FromTheExtensionOfTheFinalComponent) {
  const struct {
    const char* path;
    ResourceKind kind;
  } cases[] = {{"a/b/model.yft", ResourceKind::Yft}, {"MODEL.YFT", ResourceKind::Yft},
               {"x.Ytd", ResourceKind::Ytd},         {"/abs/p.ydr", ResourceKind::Ydr},
               {"p.ydr.bak", ResourceKind::None},    {"ydr", ResourceKind::None},
               {".ydr", ResourceKind::None},         {"dir.ydr/file", ResourceKind::None},
               {"file.", ResourceKind::None},        {"a.b.ytd", ResourceKind::Ytd}};
  for (const auto& c : cases) EXPECT_EQ(resource_kind_for_path(c.path), c.kind) << c.path;
}

}  // namespace
}  // namespace tarnwick
