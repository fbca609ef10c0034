// plan_content_edit: limits, the signature table, the mode decisions, the text
// path that keeps the encoding and its mark, and the raw binary path.
#include <gtest/gtest.h>
#include <zlib.h>

#include "content/content.h"

namespace tarnwick {
namespace {

using namespace std::string_literals;

constexpr std::string_view kPath = "/data/file.bin";
constexpr ContentMode kAllModes[] = {ContentMode::TextOnly, ContentMode::TextAndBinary, ContentMode::BinaryOnly};

ContentOptions options_for(ContentMode mode, EncodingChoice encoding = {}, Resizable resizable = Resizable::No) {
  return ContentOptions{encoding, resizable, mode};
}

Result<ContentEdit> plan(std::string_view bytes, ContentMode mode, std::string_view find = "find",
                         std::string_view replacement = "done", MatchCase match_case = MatchCase::Exact,
                         EncodingChoice encoding = {}) {
  return plan_content_edit(kPath, bytes, find, replacement, match_case, options_for(mode, encoding));
}

std::string zlib_compress(const std::string& data, int level) {
  uLongf size = compressBound(data.size());
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()),
                      data.size(), level),
            Z_OK);
  out.resize(size);
  return out;
}

void expect_skip(const Result<ContentEdit>& edit, const std::string& notice) {
  ASSERT_TRUE(edit) << edit.error();
  EXPECT_FALSE(edit->new_bytes);
  EXPECT_FALSE(edit->summary);
  EXPECT_EQ(edit->match_count, 0u);
  ASSERT_EQ(edit->notices.size(), 1u);
  EXPECT_EQ(edit->notices[0], notice);
}

void expect_no_change(const Result<ContentEdit>& edit) {
  ASSERT_TRUE(edit) << edit.error();
  EXPECT_FALSE(edit->new_bytes);
  EXPECT_TRUE(edit->notices.empty());
  EXPECT_FALSE(edit->summary);
  EXPECT_EQ(edit->match_count, 0u);
}

std::string archive_notice(const std::string& label) {
  return "Skipped unsupported " + label + ": contents are compressed or archived and were not unpacked or edited: " +
         std::string(kPath);
}

struct SignatureCase {
  std::string name;
  std::string bytes;
  std::string label;
};

class ArchiveSignature : public ::testing::TestWithParam<SignatureCase> {};

// Every row skips in every mode, Binary only included, even with a match inside.
TEST_P(ArchiveSignature, IsSkippedInEveryMode) {
  const SignatureCase& c = GetParam();
  for (const ContentMode mode : kAllModes) expect_skip(plan(c.bytes + " find ", mode), archive_notice(c.label));
}

std::string tar_header() {
  std::string bytes(300, '\0');
  bytes.replace(0, 8, "find.txt");
  bytes.replace(257, 5, "ustar");
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ArchiveSignature,
    ::testing::Values(SignatureCase{"ZipLocal", "PK\x03\x04"s, "ZIP archive"},
                      SignatureCase{"ZipEmpty", "PK\x05\x06"s, "ZIP archive"},
                      SignatureCase{"ZipSpanned", "PK\x07\x08"s, "ZIP archive"},
                      SignatureCase{"SevenZip", "7z\xBC\xAF\x27\x1C"s, "7z archive"},
                      SignatureCase{"Rar", "Rar!\x1A\x07"s, "RAR archive"},
                      SignatureCase{"Gzip", "\x1F\x8B"s, "gzip stream"},
                      SignatureCase{"Zstandard", "\x28\xB5\x2F\xFD"s, "Zstandard stream"},
                      SignatureCase{"ZstandardSkippable", "\x5A\x2A\x4D\x18"s, "Zstandard stream"},
                      SignatureCase{"Bzip2", "BZh"s, "bzip2 stream"},
                      SignatureCase{"Xz", "\xFD" "7zXZ\0"s, "XZ stream"},
                      SignatureCase{"Lz4", "\x04\x22\x4D\x18"s, "LZ4 frame"},
                      SignatureCase{"Lzo", "\x89LZO"s, "LZO stream"},
                      SignatureCase{"Tar", tar_header(), "TAR archive"},
                      SignatureCase{"Rpf", "RPF7"s, "GTA RPF archive"},
                      SignatureCase{"RpfSwapped", "7FPR"s, "GTA RPF archive"},
                      SignatureCase{"ZlibFast", zlib_compress("find find find", 1), "zlib stream"},
                      SignatureCase{"ZlibDefault", zlib_compress(std::string(5000, 'f'), 6), "zlib stream"},
                      SignatureCase{"ZlibBest", zlib_compress("find me", 9), "zlib stream"},
                      SignatureCase{"ZlibStored", zlib_compress("find me", 0), "zlib stream"}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(ArchiveSignatureEdges, ShortFilesMatchOnlyTheRowsTheyFit) {
  // Exactly as long as the row needs.
  expect_skip(plan("\x1F\x8B"s, ContentMode::BinaryOnly), archive_notice("gzip stream"));
  expect_skip(plan("BZh"s, ContentMode::TextOnly), archive_notice("bzip2 stream"));
  // One byte short of a row is data like any other.
  expect_no_change(plan("7z\xBC\xAF\x27"s, ContentMode::BinaryOnly));
  expect_no_change(plan("\x1F"s, ContentMode::BinaryOnly));
  // "ustar" would need bytes 257 to 261: a 261-byte file never matches.
  std::string short_tar(261, 'a');
  short_tar.replace(256, 5, "ustar");
  expect_no_change(plan(short_tar, ContentMode::TextOnly));
  // Zstandard's skippable frames start with 50 to 5F only.
  expect_no_change(plan("\x4F\x2A\x4D\x18"s, ContentMode::BinaryOnly));
  expect_no_change(plan("\x60\x2A\x4D\x18"s, ContentMode::BinaryOnly));
}

// The 21 two-character text prefixes (TAB, LF and CR count as text) that pass the zlib header rule.
std::vector<std::string> printable_zlib_headers() {
  std::vector<std::string> prefixes;
  const auto is_text = [](int byte) { return (byte >= 0x20 && byte < 0x7F) || byte == '\t' || byte == '\n' || byte == '\r'; };
  for (int first = 0x20; first < 0x7F; ++first)
    for (int second = 0; second < 0x7F; ++second)
      if (is_text(second) && (first & 0x8F) == 0x08 && (first * 256 + second) % 31 == 0)
        prefixes.push_back({static_cast<char>(first), static_cast<char>(second)});
  return prefixes;
}

TEST(ZlibSignature, TextWithAValidHeaderIsStillText) {
  const auto prefixes = printable_zlib_headers();
  ASSERT_EQ(prefixes.size(), 21u);
  for (const std::string& text : {"(require 'cl-lib) ; find"s, "x = 5 # find"s, "80,tcp,http,find"s,
                                  "HKLM\\Software\\find"s}) {
    const auto edit = plan(text, ContentMode::TextOnly);
    ASSERT_TRUE(edit && edit->new_bytes) << text;
    EXPECT_EQ(edit->match_count, 1u);
  }
  for (const std::string& prefix : prefixes) {
    const auto edit = plan(prefix + " find this\n", ContentMode::TextOnly);
    ASSERT_TRUE(edit) << edit.error();
    ASSERT_TRUE(edit->new_bytes) << "prefix \"" << prefix << "\" was not edited";
    EXPECT_EQ(*edit->new_bytes, prefix + " done this\n");
  }
}

TEST(ZlibSignature, OnlyWholeStreamsAreSkipped) {
  const std::string stream = zlib_compress(std::string(3000, 'x') + "find", 9);
  // Cut inside the DEFLATE data: it no longer decodes to a final block.
  const std::string truncated = stream.substr(0, stream.size() / 2);
  const auto edit = plan(truncated, ContentMode::BinaryOnly);
  ASSERT_TRUE(edit) << edit.error();
  EXPECT_TRUE(edit->notices.empty());
  // Two header bytes alone are not a stream either.
  expect_no_change(plan("\x78\x9C"s, ContentMode::BinaryOnly));
}

TEST(ZlibSignature, StreamsBeyondTheOutputBoundAreSkipped) {
  // 160 MiB of zeros compress to a small stream that runs into the 128 MiB bound.
  z_stream z{};
  ASSERT_EQ(deflateInit(&z, 9), Z_OK);
  const std::string zeros(1 << 20, '\0');
  std::string out(1 << 20, '\0');
  std::string stream;
  for (int block = 0; block < 160; ++block) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = static_cast<uInt>(zeros.size());
    do {
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = static_cast<uInt>(out.size());
      ASSERT_NE(deflate(&z, block == 159 ? Z_FINISH : Z_NO_FLUSH), Z_STREAM_ERROR);
      stream.append(out.data(), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  expect_skip(plan(stream, ContentMode::BinaryOnly), archive_notice("zlib stream"));
}

TEST(GameResource, TextOnlySkipsAndOtherModesHandOver) {
  // Unknown extension, Text only: the RSC7 skip, whatever the rest holds.
  expect_skip(plan("RSC7 find"s, ContentMode::TextOnly),
              "Skipped GTA RSC7 binary resource in text-only mode. Choose Text and binary or Binary to edit its "
              "decoded content: /data/file.bin");
  // In the binary modes the container decides; a truncated header is its refusal, never raw binary.
  for (const ContentMode mode : {ContentMode::TextAndBinary, ContentMode::BinaryOnly}) {
    const auto edit = plan_content_edit("/data/model.YDR", "RSC7 find"s, "find", "done", MatchCase::Exact,
                                        options_for(mode));
    ASSERT_FALSE(edit);
    EXPECT_EQ(edit.error(), "The RSC7 resource header is missing or truncated.");
  }
}

TEST(ModeDecision, BinarySignaturesAndScreenedText) {
  const std::string png = "\x89PNG\r\n\x1A\n find "s;
  expect_skip(plan(png, ContentMode::TextOnly), "Skipped binary or unsupported text encoding: /data/file.bin");
  const auto raw = plan(png, ContentMode::TextAndBinary);
  ASSERT_TRUE(raw && raw->new_bytes);
  EXPECT_EQ(*raw->new_bytes, "\x89PNG\r\n\x1A\n done "s);
  EXPECT_TRUE(raw->binary);
  EXPECT_FALSE(raw->game_resource);
  for (const std::string& magic : {"%PDF-"s, "%!PS"s, "MZ"s, "\x7F" "ELF"s, "GIF87a"s, "GIF89a"s, "\xFF\xD8\xFF"s})
    expect_skip(plan(magic + " find", ContentMode::TextOnly), "Skipped binary or unsupported text encoding: /data/file.bin");
  // "%PDF" without its dash is text.
  EXPECT_TRUE(plan("%PDF find", ContentMode::TextOnly)->new_bytes);

  // A vertical tab passes Auto detection but not the screen.
  const std::string vertical_tab = "line\x0B find";
  expect_skip(plan(vertical_tab, ContentMode::TextOnly), "Skipped binary or unsupported text encoding: /data/file.bin");
  const auto as_binary = plan(vertical_tab, ContentMode::TextAndBinary);
  ASSERT_TRUE(as_binary && as_binary->new_bytes);
  EXPECT_EQ(*as_binary->new_bytes, "line\x0B done");
  EXPECT_EQ(*as_binary->summary, "Raw binary · fixed width · UTF-8 pattern");
  // A C1 control decoded from an explicit choice fails the screen too.
  expect_skip(plan("a\xC2\x85 find", ContentMode::TextOnly, "find", "done", MatchCase::Exact, {EncodingKind::Utf8, 0}),
              "Skipped binary or unsupported text encoding: /data/file.bin");
  // Binary only never tries text, even for plain text.
  const auto binary_only = plan("plain find", ContentMode::BinaryOnly);
  EXPECT_TRUE(binary_only->binary);
  EXPECT_EQ(binary_only->notices.size(), 1u);
}

TEST(TextPath, KeepsTheEncodingAndTheMark) {
  const auto utf8 = plan("\xEF\xBB\xBF" "find me"s, ContentMode::TextOnly);
  EXPECT_EQ(*utf8->new_bytes, "\xEF\xBB\xBF" "done me"s);
  EXPECT_EQ(*utf8->summary, "UTF-8 text · BOM preserved");
  EXPECT_FALSE(utf8->binary);
  EXPECT_TRUE(utf8->notices.empty());

  const auto utf16 = plan("\xFF\xFE" "f\0i\0n\0d\0 \0\xE9\0"s, ContentMode::TextAndBinary, "find", "Δ");
  EXPECT_EQ(*utf16->new_bytes, "\xFF\xFE\x94\x03 \0\xE9\0"s);
  EXPECT_EQ(*utf16->summary, "UTF-16 little endian text · BOM preserved");

  const auto western = plan("Caf\xE9 find"s, ContentMode::TextOnly, "find", "é");
  EXPECT_EQ(*western->new_bytes, "Caf\xE9 \xE9");
  EXPECT_EQ(*western->summary, "Windows-1252 (Western European) text");

  const auto plain = plan("a find b", ContentMode::TextOnly);
  EXPECT_EQ(*plain->summary, "UTF-8 text");
  EXPECT_EQ(plain->match_count, 1u);
}

TEST(TextPath, ReplacementsThatChangeNothingAndRefusals) {
  expect_no_change(plan("a", ContentMode::TextOnly, "a", "a"));
  const auto upper = plan("a", ContentMode::TextOnly, "a", "A", MatchCase::Ignore);
  EXPECT_EQ(*upper->new_bytes, "A");
  EXPECT_EQ(upper->match_count, 1u);
  // Decoded text without a match is never retried as binary.
  expect_no_change(plan("no match here", ContentMode::TextAndBinary));
  // A Greek replacement cannot go into a Windows-1252 file: refused, not substituted.
  const auto greek = plan("Caf\xE9 find"s, ContentMode::TextOnly, "find", "α");
  ASSERT_FALSE(greek);
  EXPECT_TRUE(greek.error() ==
                  "The replacement contains characters that Windows-1252 (Western European) cannot represent exactly." ||
              greek.error() == "The selected encoding cannot represent or decode this data exactly.")
      << greek.error();
}

TEST(TextPath, NeverWritesInvalidUtf8) {
  // A find text that is only the lead byte of "é" would split the character.
  const auto split = plan("caf\xC3\xA9 find"s, ContentMode::TextOnly, "\xC3", "x");
  ASSERT_FALSE(split);
  EXPECT_EQ(split.error(), "Invalid UTF-8 byte sequence.");
}

TEST(Limits, InputLimitsPerModeAndEmptyFind) {
  EXPECT_EQ(plan("abc", ContentMode::TextOnly, "").error(), "Find text cannot be empty.");
  const std::string text_limit(kTextModeInputLimitBytes, 'a');
  EXPECT_TRUE(plan(text_limit, ContentMode::TextOnly));
  EXPECT_EQ(plan(text_limit + "a", ContentMode::TextOnly).error(), "Selected content exceeds the 16 MiB input limit.");
  EXPECT_TRUE(plan(text_limit + "a", ContentMode::TextAndBinary));
  const std::string binary_limit(kBinaryModeInputLimitBytes + 1, 'a');
  EXPECT_EQ(plan(binary_limit, ContentMode::BinaryOnly).error(), "Selected content exceeds the 64 MiB input limit.");
  EXPECT_EQ(content_input_limit(ContentMode::TextOnly), 16u << 20);
  EXPECT_EQ(content_input_limit(ContentMode::TextAndBinary), 64u << 20);
}

TEST(RawBinaryPath, NoticesSummariesAndFolding) {
  const std::string data = "\x01\x02" "ABC..ABC"s;
  const auto fixed = plan_content_edit(kPath, data, "ABC", "XYZ", MatchCase::Exact, options_for(ContentMode::BinaryOnly));
  EXPECT_EQ(*fixed->new_bytes, "\x01\x02" "XYZ..XYZ"s);
  EXPECT_EQ(fixed->match_count, 2u);
  EXPECT_EQ(fixed->notices, std::vector<Notice>{"Fixed-width raw binary preserves byte offsets but does not rebuild "
                                                "checksums, signatures or embedded hashes: /data/file.bin"});
  EXPECT_EQ(plan_content_edit(kPath, data, "AB", "ABC", MatchCase::Exact, options_for(ContentMode::BinaryOnly)).error(),
            "Binary fixed-width mode requires equal encoded widths (find: 2 bytes; replacement: 3 bytes). This file "
            "contains 2 matches. Use equal-width names or explicitly select resizable raw binary for a format whose "
            "offsets you understand.");
  const auto resizable = plan_content_edit(kPath, data, "AB", "ABC", MatchCase::Exact,
                                           options_for(ContentMode::BinaryOnly, {}, Resizable::Yes));
  EXPECT_EQ(*resizable->new_bytes, "\x01\x02" "ABCC..ABCC"s);
  EXPECT_EQ(*resizable->summary, "Raw binary · resizable · UTF-8 pattern");
  EXPECT_EQ(resizable->notices, std::vector<Notice>{"Resizable raw binary changes can invalidate offsets, lengths, "
                                                    "checksums or signatures. This format is not structurally "
                                                    "rebuilt: /data/file.bin"});
  // é and e: one character each, but 2 and 1 bytes.
  EXPECT_FALSE(plan_content_edit(kPath, "\x01 caf\xC3\xA9"s, "é", "e", MatchCase::Exact,
                                 options_for(ContentMode::BinaryOnly)));

  // Folding only for an all-ASCII find text.
  const std::string mixed = "\x01 abc ABC Abc"s;
  EXPECT_EQ(plan_content_edit(kPath, mixed, "abc", "xyz", MatchCase::Ignore, options_for(ContentMode::BinaryOnly))
                ->match_count,
            3u);
  const std::string umlauts = "\x01 t\xC3\xA4st T\xC3\xA4ST"s;
  const auto exact = plan_content_edit(kPath, umlauts, "täst", "tust", MatchCase::Ignore,
                                       options_for(ContentMode::BinaryOnly, {}, Resizable::Yes));
  EXPECT_EQ(exact->match_count, 1u);

  const auto utf16 = plan_content_edit(kPath, "\x01\0A\0B\0C\0"s, "ABC", "XYZ", MatchCase::Exact,
                                       options_for(ContentMode::BinaryOnly, {EncodingKind::Utf16Le, 0}));
  EXPECT_EQ(*utf16->new_bytes, "\x01\0X\0Y\0Z\0"s);
  EXPECT_EQ(*utf16->summary, "Raw binary · fixed width · UTF-16 little endian pattern");
}

// One scratch lent to a run of files, large and small, in every form whose text
// is converted or re-encoded: each plan equals the plan made without it, and
// no small file's new bytes keep a large file's memory.
TEST(ContentScratch, PlansEqualThoseWithoutItAndKeepNoBorrowedMemory) {
  const auto text_of = [](std::size_t repeats) {
    std::string text;
    for (std::size_t i = 0; i < repeats; ++i) text += "line with find and caf\xC3\xA9\n";
    return text;
  };
  const auto utf16 = [](const std::string& ascii_and_e_acute) {
    std::string wide = "\xFF\xFE";
    for (std::size_t i = 0; i < ascii_and_e_acute.size(); ++i) {
      if (ascii_and_e_acute.compare(i, 2, "\xC3\xA9") == 0) {
        wide += "\xE9\0"s;
        ++i;
      } else {
        wide += std::string{ascii_and_e_acute[i], '\0'};
      }
    }
    return wide;
  };
  const std::string large = text_of(200000);
  const std::string small = text_of(3);
  const std::string inputs[] = {utf16(large), "\xEF\xBB\xBF" + small, utf16(small), large, utf16(text_of(50)),
                                "no match here", utf16("only find")};
  ContentScratch scratch;
  for (const std::string& bytes : inputs) {
    for (const MatchCase match_case : {MatchCase::Exact, MatchCase::Ignore}) {
      const auto options = options_for(ContentMode::TextAndBinary);
      const auto lent = plan_content_edit(kPath, bytes, "find", "FIND", match_case, options, scratch);
      const auto alone = plan_content_edit(kPath, bytes, "find", "FIND", match_case, options);
      ASSERT_TRUE(lent && alone);
      EXPECT_EQ(lent->new_bytes, alone->new_bytes);
      EXPECT_EQ(lent->summary, alone->summary);
      EXPECT_EQ(lent->match_count, alone->match_count);
      if (lent->new_bytes) {
        EXPECT_LT(lent->new_bytes->capacity(), 2 * lent->new_bytes->size() + 64);
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick
