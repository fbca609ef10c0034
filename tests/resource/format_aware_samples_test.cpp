// Real resources (opt-in: TARNWICK_RSC7_SAMPLES names their folder): renames of
// texture, drawable, bone and group names are accepted and re-inflate with zlib
// to consistent pages, or are refused with one of the format-aware messages.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "relocate_check.h"
#include "sample_files.h"
#include "resource/fragment/name_graph.h"
#include "resource/resource.h"
#include "support_rsc7_builder.h"

namespace tarnwick {
namespace {

using testing::c_string_at;
using testing::kBase;
using testing::le32_at;
using testing::le64_at;
using testing::read_whole;
using testing::replace_all;

bool is_system_pointer(std::uint64_t value, std::uint64_t system) {
  return value >> 28 == 5 && value - kBase < system;
}

// Every changed byte of the old system segment is part of an old name that
// held the find text, a pointer that now leads to that name's new text, or a
// range the caller allows (dictionary lists, the page-info count).
void expect_only_name_edits(std::string_view before, std::uint64_t old_system, std::string_view after,
                            std::uint64_t new_system, std::string_view find, std::string_view replacement,
                            const std::vector<std::pair<std::uint64_t, std::uint64_t>>& allowed) {
  EXPECT_TRUE(after.substr(new_system) == before.substr(old_system)) << "graphics segment changed";
  const std::string_view old_pages = before.substr(0, old_system);
  const std::string_view new_pages = after.substr(0, new_system);
  for (std::uint64_t i = 0; i < old_system; ++i) {
    if (before[i] == after[i]) continue;
    if (std::any_of(allowed.begin(), allowed.end(),
                    [&](const auto& range) { return i >= range.first && i < range.first + range.second; }))
      continue;
    const std::uint64_t slot = i & ~std::uint64_t{7};
    const std::uint64_t old_value = le64_at(before, slot), new_value = le64_at(after, slot);
    if (is_system_pointer(old_value, old_system) && is_system_pointer(new_value, new_system)) {
      const std::string old_text = c_string_at(old_pages, old_value - kBase);
      if (c_string_at(new_pages, new_value - kBase) == replace_all(old_text, find, replacement) &&
          old_text.find(find) != std::string::npos)
        continue;
    }
    // A name that held the find text, rewritten in place or zeroed; zero
    // bytes behind it (its NUL, an inline field's padding) belong to it.
    std::uint64_t probe = i;
    while (probe > 0 && before[probe] == 0 && i - probe < 40) --probe;
    const std::size_t nul = old_pages.rfind('\0', probe);
    const std::size_t start = nul == std::string_view::npos ? 0 : nul + 1;
    if (start <= probe && c_string_at(old_pages, start).find(find) != std::string::npos) continue;
    // The zero padding of a rewritten inline field follows its new text.
    if (after[i] == 0 && before[i] == 0) continue;
    ADD_FAILURE() << "unexpected change at system offset " << i;
    return;
  }
}

struct SampleRename {
  const char* file;
  ResourceKind kind;
  const char* find;
  const char* replacement;
};

// The renames tried on the samples; the outcome of each is listed in the
// project notes. Texture-name parts for every dictionary, drawable, bone,
// texture and physics-group names for drawables and fragments.
const SampleRename kRenames[] = {
    {"ril3.ytd", ResourceKind::Ytd, "texture", "texture_renamed"},
    {"ril5.ytd", ResourceKind::Ytd, "ture1", "ture_one"},
    {"menuv.ytd", ResourceKind::Ytd, "default", "fallback_longer"},
    {"menuv.ytd", ResourceKind::Ytd, "example", "ex"},
    {"polmav+hi.ytd", ResourceKind::Ytd, "polmav", "heli"},
    {"ril1.ydr", ResourceKind::Ydr, "ril1", "ril1_renamed"},
    {"ril1.ydr", ResourceKind::Ydr, "Bag_01a", "Sack_01a"},
    {"Prisoncanteen.ydr", ResourceKind::Ydr, "Prisoncanteen", "prison_canteen_v2"},
    {"Prisoncanteen.ydr", ResourceKind::Ydr, "im_roof", "im_roof_tiles"},
    {"p_cs_clipboard.ydr", ResourceKind::Ydr, "clipboard", "clipboard_big"},
    {"p_cs_clipboard.ydr", ResourceKind::Ydr, "ClipBoard_ng", "ClipBoard_hd"},
    {"v_40overlay1.ydr", ResourceKind::Ydr, "overlay", "overlay_new"},
    {"v_40overlay1.ydr", ResourceKind::Ydr, "doorsignhosp", "doorsign"},
    {"prop_fire_tape_14.yft", ResourceKind::Yft, "POLICE_TAPE", "POLICE_LINE_TAPE"},
    {"prop_fire_tape_14.yft", ResourceKind::Yft, "frag_", "fragment_"},
    {"prop_fire_tape_14.yft", ResourceKind::Yft, "tape_14", "tape_15"},
    {"prop_fire_tape_14.yft", ResourceKind::Yft, "skel", "skeleton"},
    {"polmav_hi.yft", ResourceKind::Yft, "chassis", "chassis_main"},
    {"polmav_hi.yft", ResourceKind::Yft, "door_dside_f", "door_left_front"},
    {"polmav_hi.yft", ResourceKind::Yft, "window", "glass"},
    // The model's own name: the fragment's "pack:/{model}" and the archetype's
    // name inside it change together, in place and moved.
    {"polmav_hi.yft", ResourceKind::Yft, "polmav_hi", "heli_one"},
    {"polmav_hi.yft", ResourceKind::Yft, "polmav", "police_maverick"},
    {"prop_fire_tape_14.yft", ResourceKind::Yft, "prop_police_tape_14", "prop_police_line_14"},
};

const char* const kRefusalPrefixes[] = {
    "Overlapping/interior name aliases at ",
    "A matching literal at decoded offset ",
    "Unaccounted or interior pointer at ",
    "Inline name at ",
    "Conflicting schema writes at decoded offset ",
    "Existing texture dictionary hash does not match its name",
    "Renamed texture dictionary would contain duplicate/colliding name hashes.",
    "Name at ",
    "YFT ",
    "Resource page-info entries contain nonzero loader metadata",
};

void PrintTo(const SampleRename& rename, std::ostream* out) {
  *out << rename.file << " " << rename.find << " -> " << rename.replacement;
}

class SampleRenames : public ::testing::TestWithParam<SampleRename> {};

TEST_P(SampleRenames, AcceptedEditsAreConsistentAndRefusalsExplainThemselves) {
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "TARNWICK_RSC7_SAMPLES is not set";
  const SampleRename& rename = GetParam();
  const std::string file = read_whole(std::filesystem::path(folder) / rename.file);
  ASSERT_FALSE(file.empty());
  const auto outcome = edit_rsc7_resource(file, rename.find, rename.replacement, MatchCase::Exact, EncodingChoice{},
                                          rename.kind);
  if (!outcome) {
    const bool known = std::any_of(std::begin(kRefusalPrefixes), std::end(kRefusalPrefixes),
                                   [&](const char* prefix) { return outcome.error().starts_with(prefix); });
    EXPECT_TRUE(known) << outcome.error();
    std::cout << "[ refused  ] " << rename.file << ": " << outcome.error() << "\n";
    return;
  }
  if (std::holds_alternative<Rsc7NoChange>(*outcome)) {
    std::cout << "[ no change] " << rename.file << "\n";
    return;
  }
  const Rsc7Edit& edit = std::get<Rsc7Edit>(*outcome);
  std::cout << "[ accepted ] " << rename.file << ": " << edit.summary << ", " << edit.replacements << " replacements\n";
  EXPECT_GT(edit.replacements, 0u);

  const testing::InflatedFile before = testing::inflate_file(file);
  const testing::InflatedFile after = testing::inflate_file(edit.bytes);
  const std::uint64_t old_system = testing::reference_flags_size(before.system_flags);
  const std::uint64_t new_system = testing::reference_flags_size(after.system_flags);
  ASSERT_EQ(after.decoded.size(), new_system + testing::reference_flags_size(after.graphics_flags));
  EXPECT_EQ(after.graphics_flags, before.graphics_flags);
  EXPECT_EQ(after.system_flags & 0xF0000000u, before.system_flags & 0xF0000000u);

  // A four-byte Adler-32 trailer stays true; any other trailer stays as it was.
  const auto adler = [](const std::string& pages) {
    const std::uint32_t value =
        static_cast<std::uint32_t>(::adler32(1, reinterpret_cast<const Bytef*>(pages.data()), pages.size()));
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                       static_cast<char>(value)};
  };
  if (before.trailing.size() == 4 && before.trailing == adler(before.decoded)) {
    EXPECT_EQ(after.trailing, adler(after.decoded));
  } else {
    EXPECT_EQ(after.trailing, before.trailing);
  }

  std::vector<std::pair<std::uint64_t, std::uint64_t>> allowed;
  const std::uint64_t page_info = le64_at(before.decoded, 8) - kBase;
  allowed.push_back({page_info + 8, 1});
  if (rename.kind == ResourceKind::Ytd) {
    testing::expect_dictionary_true(after.decoded, new_system, 0);
    const std::uint32_t count = le32_at(before.decoded, 56) & 0xFFFF;
    allowed.push_back({le64_at(before.decoded, 32) - kBase, 4ull * count});
    allowed.push_back({le64_at(before.decoded, 48) - kBase, 8ull * count});
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t texture = le64_at(after.decoded, le64_at(after.decoded, 48) - kBase + 8 * i) - kBase;
      const std::string old_name = c_string_at(before.decoded, le64_at(before.decoded, texture + 40) - kBase);
      testing::expect_names_resolve(after.decoded, new_system,
                                    {{texture + 40, replace_all(old_name, rename.find, rename.replacement)}});
    }
  } else {
    const std::uint64_t root_name = rename.kind == ResourceKind::Ydr ? 168 : 88;
    std::vector<std::uint64_t> name_fields = {root_name};
    // A fragment's archetypes: root +240 physics LOD group, +16/+24/+32 LODs, +216/+224 archetypes, +24 name.
    const auto follow = [&](std::uint64_t field) -> std::optional<std::uint64_t> {
      const std::uint64_t value = le64_at(before.decoded, field);
      if (!is_system_pointer(value, old_system)) return std::nullopt;
      return value - kBase;
    };
    if (rename.kind == ResourceKind::Yft) {
      if (const auto group = follow(240)) {
        for (const std::uint64_t lod_field : {16, 24, 32}) {
          const auto lod = follow(*group + lod_field);
          if (!lod) continue;
          for (const std::uint64_t archetype_field : {216, 224})
            if (const auto archetype = follow(*lod + archetype_field)) name_fields.push_back(*archetype + 24);
        }
      }
    }
    for (const std::uint64_t field : name_fields) {
      const std::string old_name = c_string_at(before.decoded, le64_at(before.decoded, field) - kBase);
      testing::expect_names_resolve(after.decoded, new_system,
                                    {{field, replace_all(old_name, rename.find, rename.replacement)}});
    }
  }
  expect_only_name_edits(before.decoded, old_system, after.decoded, new_system, rename.find, rename.replacement,
                         allowed);
}

INSTANTIATE_TEST_SUITE_P(RealResources, SampleRenames, ::testing::ValuesIn(kRenames));

TEST(RealResources, EmptiedTextureNameIsRefused) {
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "TARNWICK_RSC7_SAMPLES is not set";
  const std::string file = read_whole(std::filesystem::path(folder) / "ril5.ytd");
  const testing::InflatedFile pages = testing::inflate_file(file);
  const std::uint64_t texture = le64_at(pages.decoded, le64_at(pages.decoded, 48) - kBase) - kBase;
  const std::uint64_t name = le64_at(pages.decoded, texture + 40) - kBase;
  ASSERT_EQ(c_string_at(pages.decoded, name), "texture1");
  const auto outcome = edit_rsc7_resource(file, "texture1", "", MatchCase::Exact, EncodingChoice{}, ResourceKind::Ytd);
  ASSERT_FALSE(outcome.has_value());
  EXPECT_EQ(outcome.error(), "Renaming would leave the resource name at " + hex_offset(name) +
                                 " empty; the game cannot find an empty name.");
}

TEST(RealResources, TextFoundInNoResourceLeavesEveryResourceUnchanged) {
  // A folder preview whose find text lives only in some other file must not
  // stop on a resource's layout: with no occurrence there is nothing to check.
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "TARNWICK_RSC7_SAMPLES is not set";
  std::size_t resources = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const ResourceKind kind = resource_kind_for_path(entry.path().filename().string());
    if (kind == ResourceKind::None) continue;
    ++resources;
    const auto outcome = edit_rsc7_resource(read_whole(entry.path()), "only-in-the-readme", "elsewhere",
                                            MatchCase::Ignore, EncodingChoice{}, kind);
    ASSERT_TRUE(outcome.has_value()) << entry.path() << ": " << outcome.error();
    EXPECT_TRUE(std::holds_alternative<Rsc7NoChange>(*outcome)) << entry.path();
  }
  EXPECT_EQ(resources, 10u);
}

}  // namespace
}  // namespace tarnwick
