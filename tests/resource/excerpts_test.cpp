// The review's excerpts of game-resource edits: offsets in the decoded pages
// for the fixed-width path, the renamed names for YFT, YTD and YDR files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "content/content.h"
#include "resource/resource.h"
#include "resource/rsc7_file.h"
#include "sample_files.h"
#include "support/excerpt_marks.h"
#include "support_rsc7_builder.h"

namespace tarnwick {
namespace {

using Lines = std::vector<std::string>;

constexpr ContentOptions kBinary{{}, Resizable::No, ContentMode::TextAndBinary};

Lines excerpts_of(std::string_view path, std::string_view file, std::string_view find, std::string_view replacement,
                  MatchCase match_case = MatchCase::Exact) {
  const auto edit = plan_content_edit(path, file, find, replacement, match_case, kBinary);
  EXPECT_TRUE(edit && edit->new_bytes && edit->binary) << (edit ? "no edit" : edit.error());
  if (!edit || !edit->new_bytes) return {};
  const auto lines = compose_content_excerpts(path, file, *edit->new_bytes, EditedAs::BinaryOrResource, find,
                                              replacement, match_case, kBinary);
  EXPECT_TRUE(lines) << lines.error();
  return lines ? testing::marked_texts(*lines) : Lines{};
}

TEST(ResourceExcerpts, FixedWidthEditsShowDecodedOffsets) {
  std::string pages = testing::pages_with(8192 + 16384, "rock", {100, 8192 + 50});
  pages.replace(96, 4, "ab\tc");
  const std::string file = testing::rsc7_file(0xF0020000, testing::one_page_flags(1), pages);
  const Lines lines = excerpts_of("/data/level.bin", file, "ROCK", "sand", MatchCase::Ignore);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "  decoded 0x64: 61 62 09 63 [72 6F 63 6B] " + lines[0].substr(42));
  EXPECT_TRUE(lines[0].find("  ab.c[rock]") != std::string::npos) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("              → 61 62 09 63 {73 61 6E 64} ")) << lines[1];
  EXPECT_TRUE(lines[1].find("  ab.c{sand}") != std::string::npos) << lines[1];
  EXPECT_TRUE(lines[2].starts_with("  decoded 0x2032: ")) << lines[2];
}

TEST(ResourceExcerpts, FormatAwareEditsListTheRenamedNamesWithTheirFields) {
  testing::SystemImage image(304);
  testing::build_yft(image, ResourceLayout::Gen9, "heli_frag", "heli_body", {"heli_door", "tail"}, {"heli_sign"});
  const std::string file =
      testing::make_file(testing::make_resource(image, ResourceKind::Yft, ResourceLayout::Gen9));
  const auto lines = compose_content_excerpts("/mods/heli.YFT", file, file, EditedAs::BinaryOrResource, "heli",
                                              "copter", MatchCase::Exact, kBinary);
  ASSERT_TRUE(lines) << lines.error();
  EXPECT_EQ(testing::marked_texts(*lines), (Lines{"  fragment name  [heli]_frag  →  {copter}_frag",
                                     "  drawable name  [heli]_body  →  {copter}_body",
                                     "  texture name  [heli]_sign  →  {copter}_sign",
                                     "  physics group name  [heli]_door  →  {copter}_door",
                                     "  archetype name  [heli]_frag  →  {copter}_frag"}));

  testing::SystemImage drawable(208);
  testing::build_ydr(drawable, ResourceLayout::Legacy, "rock_01", {"rock_bone"}, {"rock_diffuse"});
  const std::string ydr =
      testing::make_file(testing::make_resource(drawable, ResourceKind::Ydr, ResourceLayout::Legacy, 0x00020000));
  const Lines renamed = excerpts_of("/mods/rock.ydr", ydr, "rock", "stone");
  EXPECT_EQ(renamed, (Lines{"  drawable name  [rock]_01  →  {stone}_01", "  bone name  [rock]_bone  →  {stone}_bone",
                            "  texture name  [rock]_diffuse  →  {stone}_diffuse"}));

  // Up to ten names, then the count of the rest.
  testing::SystemImage dictionary(64);
  std::vector<std::string> textures;
  for (int i = 0; i < 12; ++i) textures.push_back("polmav_sign_" + std::to_string(10 + i));
  testing::build_ytd(dictionary, ResourceLayout::Legacy, textures);
  const std::string ytd =
      testing::make_file(testing::make_resource(dictionary, ResourceKind::Ytd, ResourceLayout::Legacy));
  const Lines listed = excerpts_of("/mods/polmav.ytd", ytd, "POLMAV", "heli", MatchCase::Ignore);
  ASSERT_EQ(listed.size(), 11u);
  for (std::size_t i = 0; i < 10; ++i) {
    const std::string number = listed[i].substr(listed[i].size() - 2);
    EXPECT_EQ(listed[i], "  texture name  [polmav]_sign_" + number + "  →  {heli}_sign_" + number);
  }
  EXPECT_EQ(listed[10], "  … and 2 more renamed names in this file");
}

// Real resources (opt-in: TARNWICK_RSC7_SAMPLES names their folder): every
// listed name, followed by its NUL, lies in the pages zlib inflates from the
// file, and its new text in those of the edited file.
TEST(ResourceExcerpts, RealSamplesListTheirRenamedNames) {
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "TARNWICK_RSC7_SAMPLES is not set";
  struct Sample {
    const char* file;
    const char* find;
    const char* replacement;
  };
  const Sample samples[] = {{"polmav_hi.yft", "polmav", "heli"},
                            {"menuv.ytd", "default", "fallback_longer"},
                            {"Prisoncanteen.ydr", "im_roof", "im_roof_tiles"}};
  const std::string_view roles[] = {"fragment name", "drawable name", "bone name", "archetype name",
                                    "physics group name", "cloth name", "texture name"};
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.file);
    const std::string path = (std::filesystem::path(folder) / sample.file).string();
    const std::string file = testing::read_whole(path);
    const auto edit = plan_content_edit(path, file, sample.find, sample.replacement, MatchCase::Exact, kBinary);
    ASSERT_TRUE(edit && edit->new_bytes) << (edit ? "no change" : edit.error());
    const auto lines = compose_content_excerpts(path, file, *edit->new_bytes, EditedAs::BinaryOrResource,
                                                sample.find, sample.replacement, MatchCase::Exact, kBinary);
    ASSERT_TRUE(lines) << lines.error();
    ASSERT_FALSE(lines->empty());
    const std::string before = testing::inflate_file(file).decoded;
    const std::string after = testing::inflate_file(*edit->new_bytes).decoded;
    for (const ExcerptLine& line : *lines) {
      std::cout << "[ excerpt  ] " << line.text << "\n";
      if (line.text.starts_with("  … and ")) continue;
      const std::size_t arrow = line.text.find("  →  ");
      ASSERT_NE(arrow, std::string::npos) << line.text;
      const std::string_view role_and_old = std::string_view(line.text).substr(2, arrow - 2);
      const std::size_t gap = role_and_old.find("  ");
      ASSERT_NE(gap, std::string::npos);
      EXPECT_NE(std::find(std::begin(roles), std::end(roles), role_and_old.substr(0, gap)), std::end(roles));
      const std::string old_text(role_and_old.substr(gap + 2));
      const std::string new_text = line.text.substr(arrow + 7);
      EXPECT_EQ(new_text, testing::replace_all(old_text, sample.find, sample.replacement));
      EXPECT_NE(before.find(old_text + '\0'), std::string::npos) << old_text;
      EXPECT_NE(after.find(new_text + '\0'), std::string::npos) << new_text;
    }
  }
}

}  // namespace
}  // namespace tarnwick
