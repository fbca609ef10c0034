// Real RSC7 resources (opt-in: TARNWICK_RSC7_SAMPLES names their folder, with SOURCES.tsv):
// each decodes as zlib reads it, and an equal-width edit through the fixed-width path
// re-inflates to exactly the replaced pages with a true Adler-32 trailer where there was one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "resource/resource.h"
#include "resource/rsc7.h"
#include "resource/rsc7_file.h"

namespace tarnwick {
namespace {

std::string read_whole(const std::filesystem::path& path) {
  std::ifstream stream(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << stream.rdbuf();
  return bytes.str();
}

// File name -> the notes column of SOURCES.tsv.
std::map<std::string, std::string> sample_notes(const std::filesystem::path& folder) {
  std::map<std::string, std::string> notes;
  std::istringstream lines(read_whole(folder / "SOURCES.tsv"));
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::string name = line.substr(0, line.find('\t'));
    notes[name] = line.substr(line.rfind('\t') + 1);
  }
  return notes;
}

// A run of four lower-case ASCII letters in the pages (in pages without one, a single
// upper-case letter), and a different word of the same width.
std::pair<std::string, std::string> pick_literal(const std::string& pages) {
  for (std::size_t i = 0; i + 4 <= pages.size(); ++i) {
    bool letters = true;
    for (std::size_t k = 0; k < 4; ++k) letters = letters && std::islower(static_cast<unsigned char>(pages[i + k]));
    if (!letters) continue;
    std::string find = pages.substr(i, 4);
    std::string replacement = find;
    for (char& c : replacement) c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    return {find, replacement};
  }
  for (const char c : pages) {
    if (c >= 'A' && c <= 'Z') return {std::string(1, c), std::string(1, c == 'Z' ? 'A' : c + 1)};
  }
  return {};
}

// Leftmost, non-overlapping, exact: written independently of the code under test.
std::string replace_all(std::string text, const std::string& find, const std::string& replacement) {
  for (std::size_t at = text.find(find); at != std::string::npos; at = text.find(find, at + replacement.size())) {
    text.replace(at, find.size(), replacement);
  }
  return text;
}

TEST(RealSamples, DecodeAndFixedWidthEditRoundTripThroughZlib) {
  const char* folder_text = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder_text == nullptr || *folder_text == '\0') GTEST_SKIP() << "TARNWICK_RSC7_SAMPLES is not set";
  const std::filesystem::path folder(folder_text);
  const auto notes = sample_notes(folder);
  ASSERT_FALSE(notes.empty());
  for (const auto& [name, note] : notes) {
    SCOPED_TRACE(name);
    const std::string file = read_whole(folder / name);
    const auto resource = decode_rsc7(file);
    ASSERT_TRUE(resource.has_value()) << resource.error();
    const auto by_zlib = testing::zlib_inflate_raw(std::string_view(file).substr(16));
    ASSERT_TRUE(by_zlib.has_value());
    EXPECT_EQ(by_zlib->bytes, resource->decoded);
    EXPECT_EQ(by_zlib->consumed_bytes, resource->stream_bytes);
    const bool adler_noted = note.find("trailer=4B adler32-BE") != std::string::npos;
    EXPECT_EQ(classify_trailer(*resource), adler_noted ? TrailerHandling::Adler32 : TrailerHandling::None);

    const auto [find, replacement] = pick_literal(resource->decoded);
    ASSERT_FALSE(find.empty());
    // Kind none: as if the file had an unknown extension.
    const auto result = edit_rsc7_resource(file, find, replacement, MatchCase::Exact, {}, ResourceKind::None);
    ASSERT_TRUE(result.has_value()) << result.error();
    const auto& changed = std::get<Rsc7Edit>(*result);
    EXPECT_EQ(changed.bytes.substr(0, 16), file.substr(0, 16));
    const auto reopened = testing::zlib_inflate_raw(std::string_view(changed.bytes).substr(16));
    ASSERT_TRUE(reopened.has_value());
    const std::string expected = replace_all(resource->decoded, find, replacement);
    EXPECT_EQ(reopened->bytes, expected);
    const std::string trailing = changed.bytes.substr(16 + reopened->consumed_bytes);
    EXPECT_EQ(trailing, adler_noted ? testing::adler_trailer(expected) : "");
  }
}

}  // namespace
}  // namespace tarnwick
