// The format-aware path end to end: which files it leaves alone, which it
// refuses before walking, and whole files edited and re-inflated with zlib.
#include <gtest/gtest.h>

#include "relocate_check.h"
#include "resource/resource.h"
#include "resource/rsc7.h"
#include "support_rsc7_builder.h"

namespace tarnwick {
namespace {

using testing::build_ydr;
using testing::build_ytd;
using testing::make_resource;
using testing::SystemImage;

constexpr EncodingChoice kAuto{};
constexpr EncodingChoice kUtf16{EncodingKind::Utf16Le, 0};

Rsc7Resource rock_drawable(testing::YdrAt* at = nullptr) {
  SystemImage image(208);
  const auto built = build_ydr(image, ResourceLayout::Legacy, "rock_01", {"root"}, {"rock_diffuse"});
  if (at) *at = built;
  return make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy, 0x00020000);
}

TEST(FormatAware, NoMatchAnywhereMeansNoChecks) {
  // Loader metadata the graph would refuse, and an unknown version: neither
  // matters while the find text occurs nowhere.
  testing::YdrAt at;
  Rsc7Resource resource = rock_drawable(&at);
  resource.decoded[at.page_info + 16] = 0x11;
  resource.version = 170;
  EXPECT_FALSE(edit_named_resource(resource, "tree", "bush", MatchCase::Exact, kAuto, ResourceKind::Ydr).value());
  // Once the text occurs, the steps run in order: the version first.
  EXPECT_EQ(edit_named_resource(resource, "rock", "stone", MatchCase::Exact, kAuto, ResourceKind::Ydr).error(),
            "Unsupported Drawable resource version 170; name relocation requires a validated YFT/YTD/YDR layout.");
  resource.version = 165;
  EXPECT_EQ(edit_named_resource(resource, "ROCK", "stone", MatchCase::Ignore, kAuto, ResourceKind::Ydr).error(),
            "Resource page-info entries contain nonzero loader metadata; relocation is unsupported.");
}

TEST(FormatAware, FindTextInTheSelectedEncodingCountsAsAnOccurrence) {
  Rsc7Resource resource = rock_drawable();
  const std::string utf16_tree("t\0r\0e\0e\0", 8);
  std::copy(utf16_tree.begin(), utf16_tree.end(), resource.decoded.begin() + 8192 + 64);
  EXPECT_EQ(edit_named_resource(resource, "tree", "bush", MatchCase::Exact, kUtf16, ResourceKind::Ydr).error(),
            "Known YFT/YTD/YDR name fields use UTF-8. Choose Auto or UTF-8 for format-aware name relocation.");
  EXPECT_FALSE(edit_named_resource(resource, "tree", "bush", MatchCase::Exact, kAuto, ResourceKind::Ydr).value());
}

TEST(FormatAware, VersionSelectsTheKindsLayout) {
  SystemImage image(304);
  testing::build_yft(image, ResourceLayout::Legacy, "frag", "body", {"g"}, {});
  Rsc7Resource resource = make_resource(image, ResourceKind::Yft, ResourceLayout::Legacy);
  resource.version = 170;
  EXPECT_EQ(edit_named_resource(resource, "frag", "piece", MatchCase::Exact, kAuto, ResourceKind::Yft).error(),
            "Unsupported Fragment resource version 170; name relocation requires a validated YFT/YTD/YDR layout.");
  resource.version = 13;  // a texture dictionary's version is not a fragment's
  EXPECT_FALSE(edit_named_resource(resource, "frag", "piece", MatchCase::Exact, kAuto, ResourceKind::Yft).has_value());
}

TEST(FormatAware, MatchOnlyOutsideNamesIsRefusedEvenWhenNoNameChanges) {
  testing::YdrAt at;
  Rsc7Resource resource = rock_drawable(&at);
  const std::uint64_t where = at.contents.parameters + 2;
  resource.decoded.replace(where, 4, "wxyz");
  EXPECT_EQ(edit_named_resource(resource, "wxyz", "abcd", MatchCase::Exact, kAuto, ResourceKind::Ydr).error(),
            "A matching literal at decoded offset " + hex_offset(where) +
                " is outside supported YFT/YTD/YDR name fields. No resource was changed; this field needs a "
                "format-specific parser.");
  // A replacement equal to the find text changes no name: no change.
  EXPECT_FALSE(edit_named_resource(resource, "rock", "rock", MatchCase::Exact, kAuto, ResourceKind::Ydr).value());
}

TEST(FormatAware, WholeFileRoundTripMovesADrawableName) {
  testing::YdrAt at;
  const Rsc7Resource resource = rock_drawable(&at);
  const std::string file = testing::make_file(resource);
  const auto outcome = edit_rsc7_resource(file, "rock", "stone", MatchCase::Exact, kAuto, ResourceKind::Ydr).value();
  const auto& edit = std::get<Rsc7Edit>(outcome);
  EXPECT_EQ(edit.summary, "GTA Drawable · 2 relocated strings · 0 updated texture hashes");
  EXPECT_EQ(edit.replacements, 2u);
  ASSERT_FALSE(edit.notices.empty());
  EXPECT_EQ(edit.notices[0],
            "Schema-owned YFT/YTD/YDR names, references and texture dictionary hashes were rebuilt. Other game "
            "hashes, signatures and external references require independent validation.");

  const testing::InflatedFile after = testing::inflate_file(edit.bytes);
  EXPECT_EQ(edit.bytes.substr(0, 8), file.substr(0, 8));
  EXPECT_EQ(edit.bytes.substr(12, 4), file.substr(12, 4));
  const std::uint64_t system = testing::reference_flags_size(after.system_flags);
  ASSERT_EQ(system, 16384u);
  ASSERT_EQ(after.decoded.size(), system + resource.graphics_size);
  // Both longer names move, in start order, each to a 16-byte boundary.
  EXPECT_EQ(testing::le64_at(after.decoded, 168), testing::kBase + 8192);
  EXPECT_EQ(testing::le64_at(after.decoded, at.contents.textures[0] + 40), testing::kBase + 8208);
  testing::expect_names_resolve(after.decoded, system,
                                {{168, "stone_01"}, {at.contents.textures[0] + 40, "stone_diffuse"},
                                 {at.skeleton.bones + 56, "root"}});
  const std::uint64_t texture_name = at.contents.texture_names[0];
  testing::expect_unchanged_outside(resource.decoded, 8192, after.decoded, system,
                                    {{168, 8}, {at.name, 8}, {at.page_info + 8, 1}, {8192, 9}, {8208, 14},
                                     {texture_name, 13}, {at.contents.textures[0] + 40, 8}});
}

TEST(FormatAware, BoneOfASkeletonWhoseArrayHeaderCountsZeroIsRenamed) {
  // As 11 % of real drawables hold it: one bone, and a header count of zero.
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "prop", {"root_bone"}, {});
  image.u32(at.skeleton.bones - 16, 0);
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy);
  const auto outcome =
      edit_rsc7_resource(testing::make_file(resource), "root", "pelvis", MatchCase::Exact, kAuto, ResourceKind::Ydr);
  ASSERT_TRUE(outcome.has_value()) << outcome.error();
  const testing::InflatedFile after = testing::inflate_file(std::get<Rsc7Edit>(*outcome).bytes);
  const std::uint64_t system = testing::reference_flags_size(after.system_flags);
  testing::expect_names_resolve(after.decoded, system, {{at.skeleton.bones + 56, "pelvis_bone"}, {168, "prop"}});
  EXPECT_EQ(testing::le32_at(after.decoded, at.skeleton.bones - 16), 0u);

  // A header count that is neither zero nor the bone count still refuses, naming the kind.
  image.u32(at.skeleton.bones - 16, 2);
  const Rsc7Resource disagreeing = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy);
  EXPECT_EQ(edit_named_resource(disagreeing, "root", "pelvis", MatchCase::Exact, kAuto, ResourceKind::Ydr).error(),
            "YDR skeleton count disagrees with its bones array header.");
}

TEST(FormatAware, WholeFileRoundTripRebuildsATextureDictionary) {
  for (ResourceLayout layout : {ResourceLayout::Legacy, ResourceLayout::Gen9}) {
    SystemImage image(64);
    const auto at = build_ytd(image, layout, {"sign_front", "sign_back", "pole"});
    const Rsc7Resource resource = make_resource(image, ResourceKind::Ytd, layout);
    const auto outcome =
        edit_rsc7_resource(testing::make_file(resource), "SIGN", "billboard", MatchCase::Ignore, kAuto, ResourceKind::Ytd)
            .value();
    const auto& edit = std::get<Rsc7Edit>(outcome);
    EXPECT_EQ(edit.summary, "GTA TextureDictionary · 2 relocated strings · 2 updated texture hashes");
    const testing::InflatedFile after = testing::inflate_file(edit.bytes);
    const std::uint64_t system = testing::reference_flags_size(after.system_flags);
    testing::expect_dictionary_true(after.decoded, system, 0);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> written = {
        {at.dictionary.hashes, 12}, {at.dictionary.pointers, 24}, {at.page_info + 8, 1}, {8192, system - 8192}};
    for (std::size_t i = 0; i < 3; ++i) {
      written.push_back({at.dictionary.textures[i] + 40, 8});
      written.push_back({at.dictionary.names[i], at.dictionary.texts[i].size() + 1});
    }
    testing::expect_unchanged_outside(resource.decoded, 8192, after.decoded, system, written);
  }
}

}  // namespace
}  // namespace tarnwick
