// The YFT/YTD/YDR name graph: what it finds in well-formed resources, and one
// case per refusal, built field by field, that checks the message and offset.
#include <gtest/gtest.h>

#include <functional>

#include "resource/fragment/name_graph.h"
#include "support_rsc7_builder.h"

namespace tarnwick {
namespace {

using testing::build_ydr;
using testing::build_yft;
using testing::build_ytd;
using testing::make_resource;
using testing::SystemImage;

Result<NameGraph> graph_of(const SystemImage& image, ResourceKind kind, ResourceLayout layout) {
  return build_name_graph(make_resource(image, kind, layout), kind, layout);
}

std::vector<std::string> texts_of(const NameGraph& graph) {
  std::vector<std::string> texts;
  for (const ResourceName& name : graph.names) texts.push_back(name.text);
  return texts;
}

TEST(NameGraph, FindsEveryNameOfEachKindInBothLayouts) {
  for (ResourceLayout layout : {ResourceLayout::Legacy, ResourceLayout::Gen9}) {
    SCOPED_TRACE(layout == ResourceLayout::Legacy ? "legacy" : "gen9");
    SystemImage ytd(64);
    build_ytd(ytd, layout, {"wood", "metal"});
    const NameGraph ytd_graph = graph_of(ytd, ResourceKind::Ytd, layout).value();
    EXPECT_EQ(ytd_graph.dictionaries.size(), 1u);
    EXPECT_EQ(ytd_graph.names.size(), 2u);

    SystemImage ydr(208);
    const auto ydr_at = build_ydr(ydr, layout, "rock_01", {"root", "spine"}, {"rock_diffuse"});
    const NameGraph ydr_graph = graph_of(ydr, ResourceKind::Ydr, layout).value();
    EXPECT_EQ(texts_of(ydr_graph), (std::vector<std::string>{"rock_01", "root", "spine", "rock_diffuse"}));
    EXPECT_TRUE(ydr_graph.is_name_pointer_field(168));
    EXPECT_TRUE(ydr_graph.is_name_pointer_field(ydr_at.contents.textures[0] + 40));
    EXPECT_EQ(ydr_graph.page_info_records, std::vector<std::uint64_t>{ydr_at.page_info});

    SystemImage yft(304);
    const auto yft_at = build_yft(yft, layout, "heli", "heli_body", {"door_l", "door_r"}, {"heli_paint"});
    const NameGraph yft_graph = graph_of(yft, ResourceKind::Yft, layout).value();
    // The archetype names the same text as the fragment, in its own string.
    EXPECT_EQ(yft_graph.names.size(), 7u);
    const ResourceName* group = yft_graph.name_at(yft_at.group_names[1]);
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->is_inline);
    EXPECT_EQ(group->capacity, 40u);
    EXPECT_EQ(group->text, "door_r");
    const ResourceName* cloth = yft_graph.name_at(yft_at.cloth_child + 88);
    ASSERT_NE(cloth, nullptr);
    EXPECT_EQ(cloth->capacity, 32u);
    // Owned ranges come out sorted and merged: no two touch.
    for (std::size_t i = 1; i < yft_graph.owned.size(); ++i)
      EXPECT_LT(yft_graph.owned[i - 1].offset + yft_graph.owned[i - 1].length, yft_graph.owned[i].offset);
  }
}

TEST(NameGraph, TwoReferrersShareOneName) {
  SystemImage image(208);
  const auto at = build_ydr(image, ResourceLayout::Legacy, "prop", {"bone_a", "bone_b"}, {});
  image.pointer(at.skeleton.bones + 80 + 56, at.skeleton.names[0]);
  const NameGraph graph = graph_of(image, ResourceKind::Ydr, ResourceLayout::Legacy).value();
  const ResourceName* bone = graph.name_at(at.skeleton.names[0]);
  ASSERT_NE(bone, nullptr);
  EXPECT_EQ(bone->referrers, (std::vector<std::uint64_t>{at.skeleton.bones + 56, at.skeleton.bones + 80 + 56}));
  EXPECT_EQ(graph.name_at(at.skeleton.names[1]), nullptr);
}

TEST(NameGraph, LegacyPhysicsGroupsAreNamedOnlyThroughTheGroupNameArray) {
  // Real legacy files put the next group record right behind a 128-byte
  // group; reading +128 as a name would read that record's pointers.
  SystemImage image(304);
  const auto at = build_yft(image, ResourceLayout::Legacy, "frag", "body", {"g1", "g2"}, {});
  ASSERT_EQ(at.groups[1], at.groups[0] + 128);
  image.pointer(at.groups[0] + 128, 0x1234);
  const NameGraph graph = graph_of(image, ResourceKind::Yft, ResourceLayout::Legacy).value();
  EXPECT_EQ(graph.name_at(at.groups[0] + 128), nullptr);
  EXPECT_NE(graph.name_at(at.group_names[0]), nullptr);
}

TEST(NameGraph, Gen9GroupNameReachedTwiceIsOneInlineField) {
  SystemImage image(304);
  const auto at = build_yft(image, ResourceLayout::Gen9, "frag", "body", {"g1"}, {});
  ASSERT_EQ(at.group_names[0], at.groups[0] + 128);
  const NameGraph graph = graph_of(image, ResourceKind::Yft, ResourceLayout::Gen9).value();
  EXPECT_EQ(std::count_if(graph.inline_fields.begin(), graph.inline_fields.end(),
                          [&](const InlineNameField& f) { return f.offset == at.group_names[0]; }),
            1);
}

TEST(NameGraph, PageInfoRecordsAsRealFilesHoldThem) {
  // Counts that differ from the flags and entries filled with 0xCD are loader
  // slots; both are accepted, and the record is claimed by its own counts.
  SystemImage image(64);
  build_ytd(image, ResourceLayout::Legacy, {"tex"});
  const std::uint64_t record = image.add_page_info(18, 10, 0xCD);
  image.pointer(8, record);
  const NameGraph graph = graph_of(image, ResourceKind::Ytd, ResourceLayout::Legacy).value();
  EXPECT_EQ(graph.page_info_records, std::vector<std::uint64_t>{record});
  const bool claimed = std::any_of(graph.owned.begin(), graph.owned.end(), [&](const ByteRange& r) {
    return r.offset <= record && r.offset + r.length >= record + 16 + 8 * 28;
  });
  EXPECT_TRUE(claimed);
}

TEST(NameGraph, NameLengthLimit) {
  SystemImage image(208);
  build_ydr(image, ResourceLayout::Legacy, "x", {}, {});
  const std::uint64_t longest = image.add_name(std::string(65536, 'n'));
  image.pointer(168, longest);
  const NameGraph graph = graph_of(image, ResourceKind::Ydr, ResourceLayout::Legacy).value();
  EXPECT_EQ(graph.name_at(longest)->text.size(), 65536u);

  SystemImage too_long(208);
  build_ydr(too_long, ResourceLayout::Legacy, "x", {}, {});
  const std::uint64_t start = too_long.add_name(std::string(65537, 'n'));
  too_long.pointer(168, start);
  EXPECT_EQ(graph_of(too_long, ResourceKind::Ydr, ResourceLayout::Legacy).error(),
            "Name at " + hex_offset(start) + " is unterminated or exceeds 64 KiB.");
}

// ---- one case per refusal ---------------------------------------------------

struct Refusal {
  const char* label;
  std::function<std::pair<Rsc7Resource, std::string>()> make;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.label; }

class NameGraphRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(NameGraphRefusal, NamesTheRuleAndOffset) {
  auto [resource, expected] = GetParam().make();
  const ResourceKind kind = resource.version == 13 || resource.version == 5     ? ResourceKind::Ytd
                            : resource.version == 165 || resource.version == 159 ? ResourceKind::Ydr
                                                                                 : ResourceKind::Yft;
  const ResourceLayout layout = *layout_for_version(kind, resource.version);
  const auto graph = build_name_graph(resource, kind, layout);
  ASSERT_FALSE(graph.has_value());
  EXPECT_EQ(graph.error(), expected);
}

using Made = std::pair<Rsc7Resource, std::string>;
constexpr auto kLegacy = ResourceLayout::Legacy;
constexpr auto kGen9 = ResourceLayout::Gen9;

Made yft_case(ResourceLayout layout, const std::function<std::string(SystemImage&, const testing::YftAt&)>& edit) {
  SystemImage image(304);
  const auto at = build_yft(image, layout, "frag", "body", {"g1", "g2"}, {"paint"});
  std::string expected = edit(image, at);
  return {make_resource(image, ResourceKind::Yft, layout), expected};
}
Made ydr_case(ResourceLayout layout, const std::function<std::string(SystemImage&, const testing::YdrAt&)>& edit) {
  SystemImage image(208);
  const auto at = build_ydr(image, layout, "prop", {"root", "arm"}, {"diffuse", "normal"});
  std::string expected = edit(image, at);
  return {make_resource(image, ResourceKind::Ydr, layout), expected};
}
Made ytd_case(const std::function<std::string(SystemImage&, const testing::YtdAt&)>& edit) {
  SystemImage image(64);
  const auto at = build_ytd(image, kLegacy, {"a", "b", "c"});
  std::string expected = edit(image, at);
  return {make_resource(image, ResourceKind::Ytd, kLegacy), expected};
}

const Refusal kRefusals[] = {
    {"skeleton null bones",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u64(at.skeleton.skeleton + 32, 0);
         return "YDR skeleton has bones but a null bones pointer.";
       });
     }},
    {"skeleton bones header before segment",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.pointer(at.skeleton.skeleton + 32, 8);
         return "YDR skeleton bones header is outside the system segment.";
       });
     }},
    {"skeleton header count",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u32(at.skeleton.bones - 16, 3);
         return "YDR skeleton count disagrees with its bones array header.";
       });
     }},
    {"fragment skeleton header count",
     [] {
       return yft_case(kGen9, [](SystemImage& i, const auto& at) {
         const auto skeleton = testing::add_skeleton(i, {"root", "arm"});
         i.pointer(at.drawable + 24, skeleton.skeleton);
         i.u32(skeleton.bones - 16, 1);
         return "YFT skeleton count disagrees with its bones array header.";
       });
     }},
    {"fragment graphics pointer",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto&) {
         i.u64(48, 0x60000000);
         return "YFT name graph contains a pointer outside the resource system address space.";
       });
     }},
    {"fragment record truncated",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto&) {
         i.pointer(248, 8192 - 100);  // a 336-byte drawable cannot start here
         return "YFT structure at system offset 0x1F9C is truncated or outside the system segment.";
       });
     }},
    {"drawable array over the limit",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto&) {
         i.u32(72, 100001);
         return "YFT drawable array count exceeds the safety limit.";
       });
     }},
    {"drawable array null",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto&) {
         i.u32(72, 2);
         return "YFT drawable array has a nonzero count and a null pointer.";
       });
     }},
    {"drawable name array null",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto&) {
         i.u32(72, 1);
         const std::uint64_t array = i.allocate(8);  // one null drawable
         i.pointer(56, array);
         return "YFT drawable name array has a nonzero count and a null pointer.";
       });
     }},
    {"physics children null",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u64(at.lod + 208, 0);
         return "YFT physics children has a nonzero count and a null pointer.";
       });
     }},
    {"cloth count over capacity",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto&) {
         i.u16(104, 2);
         return "YFT cloth list count exceeds its capacity.";
       });
     }},
    {"inline capacities conflict",
     [] {
       return yft_case(kGen9, [](SystemImage& i, const auto& at) {
         // The cloth child's 32-byte field lands on the first group's 40-byte field.
         i.pointer(at.cloth + 40, at.groups[0] + 128 - 88);
         return "YFT inline name fields have conflicting capacities.";
       });
     }},
    {"fragment operation limit",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto&) {
         const std::uint64_t array = i.allocate(8 * 100000);
         i.u32(72, 100000);
         i.pointer(56, array);
         i.pointer(64, array);
         return "YFT fragment name graph exceeds the 100,000-operation safety limit.";
       });
     }},
    {"non-system shader group",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto&) {
         i.u64(16, 0x60000010);
         return "Unsupported non-system pointer 0x60000010 in resource name graph.";
       });
     }},
    {"shader group outside storage",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto&) {
         i.pointer(16, 8192 - 32);
         return "Schema field at decoded offset 0x1FE0 is outside system storage.";
       });
     }},
    {"bounded records",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto& at) {
         // Two dictionaries share lists of 50,001 entries that all name one
         // texture; each entry claims 144 bytes.
         const std::uint64_t hashes = i.allocate(4 * 50001);
         const std::uint64_t pointers = i.allocate(8 * 50001);
         const std::uint64_t texture = i.allocate(144);
         for (std::uint64_t k = 0; k < 50001; ++k) i.pointer(pointers + 8 * k, texture);
         const std::uint64_t second = i.allocate(336);
         i.pointer(248, second);
         const std::uint64_t second_group = i.allocate(64);
         i.pointer(second + 16, second_group);
         for (std::uint64_t group : {at.contents.shader_group, second_group}) {
           const std::uint64_t dictionary = i.allocate(64);
           i.pointer(group + 8, dictionary);
           i.pointer(dictionary + 32, hashes);
           i.pointer(dictionary + 48, pointers);
           for (std::uint64_t header : {40, 56}) {
             i.u16(dictionary + header, 50001);
             i.u16(dictionary + header + 2, 50001);
           }
         }
         return "Resource graph exceeds 100,000 bounded records.";
       });
     }},
    {"shader count over capacity",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u16(at.contents.shader_group + 26, 0);
         return "Shader pointer count exceeds capacity.";
       });
     }},
    {"null shader array",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u64(at.contents.shader_group + 16, 0);
         return "Shader group has a null shader array.";
       });
     }},
    {"null parameter block",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u64(at.contents.shader, 0);
         return "Shader has a null parameter block.";
       });
     }},
    {"gen9 copy count zero",
     [] {
       return ydr_case(kGen9, [](SystemImage& i, const auto& at) {
         i.u8(at.contents.parameters + 7, 0);
         return "Gen9 shader texture-copy count is zero.";
       });
     }},
    {"gen9 null table",
     [] {
       return ydr_case(kGen9, [](SystemImage& i, const auto& at) {
         i.u64(at.contents.shader + 16, 0);
         return "Gen9 shader texture-reference table is null.";
       });
     }},
    {"gen9 slot beyond table",
     [] {
       return ydr_case(kGen9, [](SystemImage& i, const auto& at) {
         i.u32(at.contents.parameters + 12 + 8, 2u << 2);  // slot 2 of a 2 × 1 table
         return "Gen9 shader texture index exceeds its reference table.";
       });
     }},
    {"list count over capacity",
     [] {
       return ytd_case([](SystemImage& i, const auto&) {
         i.u16(58, 2);
         return "Resource list count exceeds capacity at 0x30.";
       });
     }},
    {"nonempty list null pointer",
     [] {
       return ytd_case([](SystemImage& i, const auto&) {
         i.u64(32, 0);
         return "Nonempty resource list has a null pointer.";
       });
     }},
    {"hash and pointer counts",
     [] {
       return ytd_case([](SystemImage& i, const auto&) {
         i.u16(56, 2);
         return "Texture dictionary hash and pointer counts disagree.";
       });
     }},
    {"null texture",
     [] {
       return ytd_case([](SystemImage& i, const auto& at) {
         i.u64(at.dictionary.pointers + 8, 0);
         return "Texture dictionary contains a null texture.";
       });
     }},
    {"root page-info missing",
     [] {
       return ytd_case([](SystemImage& i, const auto&) {
         i.u64(8, 0);
         return "Root resource page-info pointer is missing.";
       });
     }},
    {"page-info loader metadata",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u8(at.page_info + 16 + 3, 0x40);
         return "Resource page-info entries contain nonzero loader metadata; relocation is unsupported.";
       });
     }},
    {"page-info mixed fill",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u64(at.page_info + 16, 0x00000000CDCDCDCDull);
         return "Resource page-info entries contain nonzero loader metadata; relocation is unsupported.";
       });
     }},
    {"name unterminated at segment end",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto&) {
         i.bytes.resize(8192, 'z');
         i.pointer(168, 8192 - 4);
         return "Name at 0x1FFC is unterminated or exceeds 64 KiB.";
       });
     }},
    {"name not utf-8",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.u8(at.name + 1, 0xC3);
         return "Name at " + hex_offset(at.name) + " is not valid UTF-8.";
       });
     }},
    {"name with control character",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.put_text(at.skeleton.names[1], "a\xC2\x85");  // U+0085
         return "Name at " + hex_offset(at.skeleton.names[1]) + " contains control characters.";
       });
     }},
    {"name inside a shader group",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.put_text(at.contents.shader_group + 40, "inside");
         i.pointer(168, at.contents.shader_group + 40);
         return "Name at " + hex_offset(at.contents.shader_group + 40) + " overlaps schema-owned metadata.";
       });
     }},
    {"retained text over 64 MiB",
     [] {
       return ydr_case(kLegacy, [](SystemImage& i, const auto&) {
         // 1,100 interior aliases of one 64 KiB string retain over 64 MiB.
         const std::uint64_t text = i.add_name(std::string(65536, 'q'));
         const auto skeleton = testing::add_skeleton(i, std::vector<std::string>(1100, "b"));
         for (std::uint64_t k = 0; k < 1100; ++k) i.pointer(skeleton.bones + 80 * k + 56, text + k);
         i.pointer(24, skeleton.skeleton);
         return "Resource names exceed the 64 MiB retained-text limit; overlapping aliases are unsupported.";
       });
     }},
    {"inline name over capacity",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.put_text(at.group_names[0], std::string(40, 'g'));
         return "Inline resource name exceeds its fixed field capacity.";
       });
     }},
    {"inline and pointer-owned",
     [] {
       return yft_case(kLegacy, [](SystemImage& i, const auto& at) {
         i.pointer(at.archetype + 24, at.group_names[1]);
         return "A resource name is ambiguously both inline and pointer-owned.";
       });
     }},
};

INSTANTIATE_TEST_SUITE_P(EveryMessage, NameGraphRefusal, ::testing::ValuesIn(kRefusals));

}  // namespace
}  // namespace tarnwick
