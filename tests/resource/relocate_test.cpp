// Name relocation and texture dictionaries: accepted edits checked with an
// independent reader, and one case per refusal with its message and offset.
#include <gtest/gtest.h>

#include "literal/literal.h"
#include "relocate_check.h"
#include "resource/relocate/relocate.h"
#include "support_rsc7_builder.h"

namespace tarnwick {
namespace {

using testing::build_ydr;
using testing::build_yft;
using testing::build_ytd;
using testing::kBase;
using testing::make_resource;
using testing::Referral;
using testing::SystemImage;

// The format-aware steps after encoding: graph, renaming, checks and writes.
Result<RelocatedResource> relocate(const Rsc7Resource& resource, ResourceKind kind, std::string_view find,
                                   std::string_view replacement, MatchCase match_case = MatchCase::Exact) {
  const ResourceLayout layout = *layout_for_version(kind, resource.version);
  NameGraph graph = TRY(build_name_graph(resource, kind, layout));
  const NameRenamer rename = [&](std::string_view name) -> Result<RenamedText> {
    TextReplacement replaced = TRY(replace_literal_text(name, find, replacement, match_case, 65536));
    return RenamedText{replaced.text, replaced.count};
  };
  if (TRY(rename_resource_names(graph, resource, rename)) == 0) return fail("(no name changed)");
  return relocate_resource_names(resource, graph, find, match_case);
}

TEST(TextureNameHash, IsJenkinsOneAtATimeOverFoldedBytes) {
  EXPECT_EQ(texture_name_hash(""), 0u);
  EXPECT_EQ(texture_name_hash("a"), 0xCA2E9442u);  // the published one-at-a-time value for "a"
  EXPECT_EQ(texture_name_hash("Rock_Diffuse"), texture_name_hash("rock_diffuse"));
  for (std::string_view name : {"x", "wood_floor", "PROP_Sign_01", "~!@#"})
    EXPECT_EQ(texture_name_hash(name), testing::reference_name_hash(name)) << name;
}

TEST(Relocation, LongerDrawableNameMovesBehindTheSystemSegment) {
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "rock_01", {}, {});
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy, 0, 0xA0000000);
  const RelocatedResource result = relocate(resource, ResourceKind::Ydr, "rock", "stone").value();

  EXPECT_EQ(result.moved, 1u);
  EXPECT_EQ(result.replacements, 1u);
  EXPECT_EQ(testing::le64_at(result.decoded, 168), kBase + 8192);  // first 16-byte boundary at the old end
  EXPECT_EQ(testing::c_string_at(result.decoded, 8192), "stone_01");
  EXPECT_EQ(result.decoded.substr(at.name, 8), std::string(8, '\0'));
  // 8192 + 9 bytes round up to one 16 KiB page; the top four flag bits stay.
  ASSERT_TRUE(result.new_system_flags.has_value());
  EXPECT_EQ(*result.new_system_flags, 0xA0020001u);
  EXPECT_EQ(testing::reference_flags_size(*result.new_system_flags), result.decoded.size());
  EXPECT_EQ(static_cast<unsigned char>(result.decoded[at.page_info + 8]), 1);
  testing::expect_unchanged_outside(resource.decoded, 8192, result.decoded, 16384,
                                    {{168, 8}, {at.name, 8}, {at.page_info + 8, 1}, {8192, 9}});
}

TEST(Relocation, ShorterNameIsRewrittenInPlace) {
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "stone_01", {}, {});
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy);
  const RelocatedResource result = relocate(resource, ResourceKind::Ydr, "stone", "rock").value();
  EXPECT_EQ(result.moved, 0u);
  EXPECT_FALSE(result.new_system_flags.has_value());
  EXPECT_EQ(result.decoded.size(), resource.decoded.size());
  EXPECT_EQ(result.decoded.substr(at.name, 9), std::string("rock_01\0\0", 9));
  testing::expect_unchanged_outside(resource.decoded, 8192, result.decoded, 8192, {{at.name, 9}});
}

TEST(Relocation, SharedBoneNameMovesOnceAndBothFieldsFollow) {
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "prop", {"arm", "leg", "hip"}, {});
  image.pointer(at.skeleton.bones + 2 * 80 + 56, at.skeleton.names[0]);
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy);
  const RelocatedResource result = relocate(resource, ResourceKind::Ydr, "arm", "forearm").value();
  EXPECT_EQ(result.moved, 1u);
  testing::expect_names_resolve(result.decoded, 16384,
                                {{at.skeleton.bones + 56, "forearm"},
                                 {at.skeleton.bones + 80 + 56, "leg"},
                                 {at.skeleton.bones + 160 + 56, "forearm"}});
  EXPECT_EQ(testing::le64_at(result.decoded, at.skeleton.bones + 56),
            testing::le64_at(result.decoded, at.skeleton.bones + 160 + 56));
}

TEST(Relocation, HiddenReferencesIntoARenamedNameAreRefused) {
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "rock_01", {"arm"}, {});
  const std::uint32_t graphics_flags = 0x00020000;  // one 8 KiB page
  const Rsc7Resource clean = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy, graphics_flags);
  const auto expect_refused_at = [&](std::uint64_t p, std::uint64_t target) {
    Rsc7Resource resource = clean;
    for (int i = 0; i < 8; ++i) resource.decoded[p + i] = static_cast<char>((kBase + target) >> (8 * i));
    EXPECT_EQ(relocate(resource, ResourceKind::Ydr, "rock", "stone").error(),
              "Unaccounted or interior pointer at " + hex_offset(p) + " refers into renamed string " +
                  hex_offset(at.name) + "; relocation refused.");
  };
  // Interior, at every alignment, in the graphics segment and in the last windows.
  for (std::uint64_t p = 8192 + 96; p < 8192 + 106; ++p) expect_refused_at(p, at.name + 2);
  for (std::uint64_t p = clean.decoded.size() - 18; p <= clean.decoded.size() - 8; ++p)
    expect_refused_at(p, at.name + 2);
  expect_refused_at(8192 - 8, at.name);  // the start, but from an unknown field
  // Eight bytes that are not a system pointer (a non-zero high byte) are not one.
  Rsc7Resource near_miss = clean;
  for (int i = 0; i < 8; ++i) near_miss.decoded[8192 + 101 + i] = static_cast<char>((kBase + at.name + 2) >> (8 * i));
  near_miss.decoded[8192 + 101 + 7] = 1;
  EXPECT_TRUE(relocate(near_miss, ResourceKind::Ydr, "rock", "stone").has_value());
  // An unrenamed name may be referred to from anywhere.
  Rsc7Resource other = clean;
  for (int i = 0; i < 8; ++i) other.decoded[8192 + 40 + i] = static_cast<char>((kBase + at.name + 2) >> (8 * i));
  EXPECT_TRUE(relocate(other, ResourceKind::Ydr, "arm", "leg").has_value());
}

TEST(Relocation, InlineFieldsKeepTheirCapacity) {
  SystemImage image(304);
  const auto at = build_yft(image, ResourceLayout::Legacy, "frag", "body", {"g1", "g2"}, {});
  const Rsc7Resource resource = make_resource(image, ResourceKind::Yft, ResourceLayout::Legacy);
  EXPECT_EQ(relocate(resource, ResourceKind::Yft, "g1", std::string(40, 'G')).error(),
            "Inline name at " + hex_offset(at.group_names[0]) +
                " has a 40-byte field; the requested name needs 41 bytes. This field cannot be enlarged safely.");
  const RelocatedResource fits = relocate(resource, ResourceKind::Yft, "g1", std::string(39, 'G')).value();
  EXPECT_EQ(fits.moved, 0u);
  EXPECT_EQ(testing::c_string_at(fits.decoded, at.group_names[0]), std::string(39, 'G'));
  testing::expect_unchanged_outside(resource.decoded, 8192, fits.decoded, 8192, {{at.group_names[0], 40}});

  SystemImage gen9(304);
  const auto gen9_at = build_yft(gen9, ResourceLayout::Gen9, "frag", "body", {"g1"}, {});
  const Rsc7Resource gen9_resource = make_resource(gen9, ResourceKind::Yft, ResourceLayout::Gen9);
  const RelocatedResource cloth = relocate(gen9_resource, ResourceKind::Yft, "cloth_a", "cloth_b").value();
  EXPECT_EQ(testing::c_string_at(cloth.decoded, gen9_at.cloth_child + 88), "cloth_b");
}

TEST(Relocation, RenamedNamesMustBeFreeOfControlCharacters) {
  SystemImage image(208);
  build_ydr(image, ResourceLayout::Legacy, "rock_01", {}, {});
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy);
  EXPECT_EQ(relocate(resource, ResourceKind::Ydr, "_", "\t").error(),
            "Renamed resource names cannot contain control characters.");
}

// Real fragments name themselves "pack:/{model}" and their archetype by a
// pointer six bytes into that string.
struct PackedModel {
  Rsc7Resource resource;
  testing::YftAt at;
};
PackedModel packed_model(std::string_view model) {
  SystemImage image(304);
  const auto at = build_yft(image, ResourceLayout::Legacy, "pack:/" + std::string(model), "body", {"g1"}, {});
  image.pointer(at.archetype + 24, at.name + 6);
  std::fill_n(image.bytes.begin() + static_cast<std::ptrdiff_t>(at.archetype_name), 6 + model.size(), '\0');
  return {make_resource(image, ResourceKind::Yft, ResourceLayout::Legacy), at};
}

TEST(Relocation, ModelNameInsideThePackNameChangesWithIt) {
  for (std::string_view replacement : {"heli", "helicopter_one"}) {  // in place, then moved
    SCOPED_TRACE(replacement);
    const auto [resource, at] = packed_model("polmav_hi");
    const RelocatedResource result = relocate(resource, ResourceKind::Yft, "polmav_hi", replacement).value();
    const std::uint64_t system = result.new_system_flags ? result.decoded.size() : 8192;
    EXPECT_EQ(result.moved, replacement.size() > 9 ? 1u : 0u);  // the pack name only
    EXPECT_EQ(result.replacements, 2u);
    testing::expect_names_resolve(result.decoded, system,
                                  {{88, "pack:/" + std::string(replacement)},
                                   {at.archetype + 24, std::string(replacement)}});
    EXPECT_EQ(testing::le64_at(result.decoded, at.archetype + 24), testing::le64_at(result.decoded, 88) + 6);
  }
}

TEST(Relocation, NestedTailsFollowTheirOuterStringOrRefuse) {
  auto [resource, at] = packed_model("polmav_hi");
  // The drawable is named "hi", the last two bytes of "pack:/polmav_hi".
  for (int i = 0; i < 8; ++i)
    resource.decoded[at.drawable + 304 + i] = static_cast<char>((kBase + at.name + 13) >> (8 * i));
  const RelocatedResource result = relocate(resource, ResourceKind::Yft, "hi", "lo").value();
  EXPECT_EQ(result.replacements, 3u);
  testing::expect_names_resolve(result.decoded, 8192,
                                {{88, "pack:/polmav_lo"}, {at.archetype + 24, "polmav_lo"}, {at.drawable + 304, "lo"}});
  // "hi" cannot stay while the strings it ends change.
  EXPECT_EQ(relocate(resource, ResourceKind::Yft, "mav_", "maverick_").error(),
            "Overlapping/interior name aliases at " + hex_offset(at.name) + " and " + hex_offset(at.name + 13) +
                " require an unsupported layout.");
}

TEST(Relocation, TailReachedFromAnUnknownPlaceIsRefused) {
  auto [resource, at] = packed_model("polmav_hi");
  resource.graphics_size = 0;
  for (int i = 0; i < 8; ++i) resource.decoded[4000 + i] = static_cast<char>((kBase + at.name + 6) >> (8 * i));
  EXPECT_EQ(relocate(resource, ResourceKind::Yft, "polmav", "heli").error(),
            "Unaccounted or interior pointer at 0xFA0 refers into renamed string " + hex_offset(at.name) +
                "; relocation refused.");
}

TEST(Relocation, InteriorAliasOfARenamedNameIsRefused) {
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "rock_01", {"bone"}, {});
  image.pointer(at.skeleton.bones + 56, at.name + 5);  // the bone is named "01", inside "rock_01"
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy);
  // Only the outer string's prefix would change: the tail cannot follow it.
  EXPECT_EQ(relocate(resource, ResourceKind::Ydr, "rock", "stone").error(),
            "Overlapping/interior name aliases at " + hex_offset(at.name) + " and " + hex_offset(at.name + 5) +
                " require an unsupported layout.");
  // The tail would change in a way its outer string does not ("_0" is not in "01").
  EXPECT_EQ(relocate(resource, ResourceKind::Ydr, "k_0", "k_").error(),
            "Overlapping/interior name aliases at " + hex_offset(at.name) + " and " + hex_offset(at.name + 5) +
                " require an unsupported layout.");
}

TEST(Relocation, NamesMayNotBecomeEmpty) {
  const auto [resource, at] = packed_model("polmav_hi");
  EXPECT_EQ(relocate(resource, ResourceKind::Yft, "polmav_hi", "").error(),
            "Renaming would leave the resource name at " + hex_offset(at.name + 6) +
                " empty; the game cannot find an empty name.");
}

TEST(Relocation, MatchesOutsideNamesAreRefusedWithTheirOffset) {
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "rock_01", {}, {"rock_diffuse"});
  image.put_text(at.contents.parameters + 1, "ROCK");  // inside the shader's parameter block
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ydr, ResourceLayout::Legacy);
  const std::string outside = "A matching literal at decoded offset " + hex_offset(at.contents.parameters + 1) +
                              " is outside supported YFT/YTD/YDR name fields. No resource was changed; this field "
                              "needs a format-specific parser.";
  EXPECT_EQ(relocate(resource, ResourceKind::Ydr, "rock", "stone", MatchCase::Ignore).error(), outside);
  // With case kept, the upper-case bytes are not a match.
  EXPECT_TRUE(relocate(resource, ResourceKind::Ydr, "rock", "stone", MatchCase::Exact).has_value());
}

TEST(Relocation, WrittenBytesThatDisagreeAreRefused) {
  // A cloth name field laid over a dictionary's hash array: renaming it and
  // writing the dictionary back would put two values in one byte.
  std::string texture;
  for (int k = 0; texture.empty(); ++k) {
    const std::uint32_t hash = testing::reference_name_hash("t" + std::to_string(k));
    bool printable = true;
    for (int i = 0; i < 4; ++i) {
      const unsigned char b = static_cast<unsigned char>(hash >> (8 * i));
      printable = printable && b >= 'A' && b <= 'Z';
    }
    if (printable) texture = "t" + std::to_string(k);
  }
  SystemImage image(304);
  const auto at = build_yft(image, ResourceLayout::Legacy, "frag", "body", {}, {});
  const std::uint64_t dictionary = image.allocate(64);
  const auto lists = testing::fill_texture_dictionary(image, dictionary, ResourceLayout::Legacy, {texture});
  image.pointer(at.contents.shader_group + 8, dictionary);
  // Give the hash array room of its own so the 32-byte field covers nothing else.
  const std::uint64_t cloth_child = image.allocate(128);
  const std::uint64_t hashes = cloth_child + 88;
  image.u32(hashes, testing::le32_at(image.bytes, lists.hashes));
  image.u32(lists.hashes, 0);
  image.pointer(dictionary + 32, hashes);
  image.pointer(at.cloth + 40, cloth_child);
  const Rsc7Resource resource = make_resource(image, ResourceKind::Yft, ResourceLayout::Legacy);
  const std::string hash_text = testing::c_string_at(resource.decoded, hashes);
  ASSERT_EQ(hash_text.size(), 4u);
  EXPECT_EQ(relocate(resource, ResourceKind::Yft, hash_text, "abcd").error(),
            "Conflicting schema writes at decoded offset " + hex_offset(hashes) +
                "; overlapping resource metadata is unsupported.");
}

// ---- texture dictionaries ---------------------------------------------------

struct Dictionary {
  Rsc7Resource resource;
  testing::YtdAt at;
};
Dictionary ytd_with(const std::vector<std::string>& names, std::uint32_t graphics_flags = 0) {
  SystemImage image(64);
  const auto at = build_ytd(image, ResourceLayout::Legacy, names);
  return {make_resource(image, ResourceKind::Ytd, ResourceLayout::Legacy, graphics_flags), at};
}

TEST(TextureDictionary, RenamedTextureGetsItsHashAndTheListIsResorted) {
  for (std::string_view replacement : {"z", "zebra_crossing"}) {  // in place, then moved
    SCOPED_TRACE(replacement);
    const auto [resource, at] = ytd_with({"wood", "metal", "glass", "brick"});
    const RelocatedResource result = relocate(resource, ResourceKind::Ytd, "metal", replacement).value();
    EXPECT_EQ(result.updated_hashes, 1u);
    const std::uint64_t system = resource.decoded.size() == result.decoded.size() ? 8192 : result.decoded.size();
    testing::expect_dictionary_true(result.decoded, system, 0);
    // The texture records did not move; their pointers moved along with their hashes.
    std::vector<std::uint64_t> before, after;
    for (int i = 0; i < 4; ++i) {
      before.push_back(testing::le64_at(resource.decoded, at.dictionary.pointers + 8 * i));
      after.push_back(testing::le64_at(result.decoded, at.dictionary.pointers + 8 * i));
    }
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(before, after);
  }
}

TEST(TextureDictionary, TwoTexturesRenamedToOneHashAreRefused) {
  const auto [resource, at] = ytd_with({"ax_b", "a_xb", "other"});
  EXPECT_EQ(relocate(resource, ResourceKind::Ytd, "x", "").error(),
            "Renamed texture dictionary would contain duplicate/colliding name hashes.");
}

TEST(TextureDictionary, StoredHashIsVerifiedOnlyForRenamedTextures) {
  auto [resource, at] = ytd_with({"wood", "metal"});
  const std::uint64_t wood = std::find(at.dictionary.texts.begin(), at.dictionary.texts.end(), "wood") -
                             at.dictionary.texts.begin();
  resource.decoded[at.dictionary.hashes + 4 * wood] ^= 1;
  EXPECT_EQ(relocate(resource, ResourceKind::Ytd, "wood", "oak").error(),
            "Existing texture dictionary hash does not match its name; unsupported layout or corrupt input.");
  const RelocatedResource result = relocate(resource, ResourceKind::Ytd, "metal", "steel").value();
  EXPECT_EQ(result.updated_hashes, 1u);
}

TEST(TextureDictionary, EmptiedTextureNameIsRefusedWithItsOffset) {
  const auto [resource, at] = ytd_with({"wood", "metal"});
  const std::size_t wood = std::find(at.dictionary.texts.begin(), at.dictionary.texts.end(), "wood") -
                           at.dictionary.texts.begin();
  EXPECT_EQ(relocate(resource, ResourceKind::Ytd, "wood", "").error(),
            "Renaming would leave the resource name at " + hex_offset(at.dictionary.names[wood]) +
                " empty; the game cannot find an empty name.");
}

TEST(TextureDictionary, HashBearingNamesMustBeAscii) {
  const auto [resource, at] = ytd_with({"cafe_sign", "menu"});
  EXPECT_EQ(relocate(resource, ResourceKind::Ytd, "cafe", "caf\xC3\xA9").error(),
            "Hash-bearing texture names require ASCII for verified name-hash rebuilding.");
}

TEST(TextureDictionary, TextureWithoutANameIsRefusedWhenRebuilding) {
  auto [resource, at] = ytd_with({"wood", "metal"});
  for (int i = 0; i < 8; ++i) resource.decoded[at.dictionary.textures[0] + 40 + i] = 0;
  EXPECT_EQ(relocate(resource, ResourceKind::Ytd, at.dictionary.texts[1], "x").error(), "Texture has a null name.");
}

// ---- page layout --------------------------------------------------------------

TEST(PageLayout, GraphicsPageCountMustLeaveRoomForTheSystemPage) {
  // 127 pages of 16 × base plus one page of 1 × base: 128 graphics pages.
  const std::uint32_t graphics_flags = (127u << 17) | (1u << 27);
  const auto [resource, at] = ytd_with({"wood"}, graphics_flags);
  ASSERT_EQ(resource.graphics_pages, 128u);
  EXPECT_EQ(relocate(resource, ResourceKind::Ytd, "wood", "woodwork").error(),
            "Graphics page count leaves no room for a relocated system page.");
  EXPECT_TRUE(relocate(resource, ResourceKind::Ytd, "wood", "oak").has_value());  // in place
}

TEST(PageLayout, MovedNamesAndGraphicsStayWithin256MiB) {
  // Renaming alone: the running end plus the graphics segment.
  SystemImage image(64);
  build_ytd(image, ResourceLayout::Legacy, {"wood"});
  Rsc7Resource resource = make_resource(image, ResourceKind::Ytd, ResourceLayout::Legacy);
  resource.graphics_size = (256ull << 20) - 8200;
  const ResourceLayout layout = ResourceLayout::Legacy;
  NameGraph graph = build_name_graph(make_resource(image, ResourceKind::Ytd, layout), ResourceKind::Ytd, layout).value();
  const NameRenamer longer = [](std::string_view) -> Result<RenamedText> { return RenamedText{"woodwork", 1}; };
  EXPECT_EQ(rename_resource_names(graph, resource, longer).error(),
            "Relocated names and graphics exceed the 256 MiB decoded limit.");
}

TEST(PageLayout, PowerOfTwoSystemPageMustFitBesideGraphics) {
  // A 1 MiB system page and 509 graphics pages of 512 KiB: the moved name
  // fits, but the doubled system page does not.
  const std::uint32_t graphics_flags =
      10u | (1u << 4) | (1u << 5) | (1u << 7) | (1u << 11) | (1u << 17) | (1u << 24) | (1u << 25) | (1u << 27);
  ASSERT_EQ(testing::reference_flags_size(graphics_flags), (256ull << 20) - (3ull << 19));
  SystemImage image(64);
  build_ytd(image, ResourceLayout::Legacy, {"wood"});
  image.allocate(600000);
  const Rsc7Resource resource = make_resource(image, ResourceKind::Ytd, ResourceLayout::Legacy, graphics_flags);
  ASSERT_EQ(resource.system_size, 1u << 20);
  EXPECT_EQ(relocate(resource, ResourceKind::Ytd, "wood", "woodwork").error(),
            "Relocated resource including graphics exceeds 256 MiB.");
}

}  // namespace
}  // namespace tarnwick
