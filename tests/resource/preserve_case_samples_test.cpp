// A real drawable (opt-in: TARNWICK_RSC7_SAMPLES names the samples' folder)
// whose texture names spell the find text in different cases: each renamed
// name keeps its own case, and the dictionary's hashes are those of the new names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "resource/fragment/name_graph.h"
#include "resource/resource.h"
#include "resource/rsc7.h"
#include "sample_files.h"
#include "support_rsc7_builder.h"

namespace tarnwick {
namespace {

using testing::c_string_at;
using testing::kBase;
using testing::le32_at;
using testing::le64_at;

struct CaseRename {
  const char* find;
  const char* typed;
  std::map<std::string, std::string> renamed;  // every name that changes: old -> new
};

// Equal width (names rewritten in place, one of them in the texture
// dictionary) and longer (every name moved to new storage).
const CaseRename kRenames[] = {
    {"prop",
     "item",
     {{"Prop_ClipBoard_ng_01", "Item_ClipBoard_ng_01"},
      {"Prop_ClipBoard_ng_01_n", "Item_ClipBoard_ng_01_n"},
      {"prop_timetable_01", "item_timetable_01"}}},
    {"clipboard",
     "writingPad",
     {{"p_cs_clipboard.#dr", "p_cs_writingpad.#dr"},
      {"P_CS_Clipboard", "P_CS_WritingPad"},
      {"Prop_ClipBoard_ng_01", "Prop_writingPad_ng_01"},
      {"Prop_ClipBoard_ng_01_n", "Prop_writingPad_ng_01_n"}}},
};

std::vector<std::string> names_of(const std::string& file) {
  const Rsc7Resource resource = testing::resource_from_file(file);
  const auto graph = build_name_graph(resource, ResourceKind::Ydr, *layout_for_version(ResourceKind::Ydr, resource.version));
  EXPECT_TRUE(graph) << graph.error();
  std::vector<std::string> names;
  if (!graph) return names;
  for (const ResourceName& name : graph->names) names.push_back(name.text);
  std::ranges::sort(names);
  return names;
}

TEST(RealResources, PreservedCaseFollowsEachNameAndTheDictionaryFollowsTheNames) {
  const char* folder = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (folder == nullptr || *folder == '\0') GTEST_SKIP() << "TARNWICK_RSC7_SAMPLES is not set";
  const std::string file = testing::read_whole(std::filesystem::path(folder) / "p_cs_clipboard.ydr");
  ASSERT_FALSE(file.empty());
  for (const CaseRename& rename : kRenames) {
    const Replacement replacement(rename.find, rename.typed, MatchCase::Ignore, PreserveCase::Yes);
    const auto outcome =
        edit_rsc7_resource(file, rename.find, replacement, MatchCase::Ignore, EncodingChoice{}, ResourceKind::Ydr);
    ASSERT_TRUE(outcome) << rename.find << ": " << outcome.error();
    const Rsc7Edit* edit = std::get_if<Rsc7Edit>(&*outcome);
    ASSERT_NE(edit, nullptr) << rename.find;
    EXPECT_EQ(edit->replacements, rename.renamed.size());

    std::vector<std::string> expected;
    for (const std::string& name : names_of(file)) {
      const auto renamed = rename.renamed.find(name);
      expected.push_back(renamed == rename.renamed.end() ? name : renamed->second);
    }
    std::ranges::sort(expected);
    EXPECT_EQ(names_of(edit->bytes), expected) << rename.find;

    // Read back through zlib: each dictionary entry's hash is its texture's
    // name hash, and the hashes ascend.
    const testing::InflatedFile after = testing::inflate_file(edit->bytes);
    const Rsc7Resource resource = testing::resource_from_file(edit->bytes);
    ASSERT_EQ(after.decoded, resource.decoded);
    const auto graph = build_name_graph(resource, ResourceKind::Ydr, *layout_for_version(ResourceKind::Ydr, resource.version));
    ASSERT_TRUE(graph);
    ASSERT_FALSE(graph->dictionaries.empty());
    for (const TextureDictionaryLists& dictionary : graph->dictionaries) {
      std::uint32_t previous = 0;
      for (std::uint64_t i = 0; i < dictionary.count; ++i) {
        const std::uint64_t texture = le64_at(after.decoded, dictionary.pointer_array + 8 * i) - kBase;
        const std::string name = c_string_at(after.decoded, le64_at(after.decoded, texture + 40) - kBase);
        const std::uint32_t hash = le32_at(after.decoded, dictionary.hash_array + 4 * i);
        EXPECT_EQ(hash, testing::reference_name_hash(name)) << name;
        if (i > 0) {
          EXPECT_LT(previous, hash) << name;
        }
        previous = hash;
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick
