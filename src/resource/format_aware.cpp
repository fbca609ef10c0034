// The format-aware path for YFT, YTD and YDR resources: names may change
// length, everything else in the decoded pages must stay as it was.
#include <string>

#include "literal/literal.h"
#include "resource/fragment/name_graph.h"
#include "resource/relocate/relocate.h"
#include "resource/rsc7.h"

namespace tarnwick {

namespace {

// A resource that does not contain the find text anywhere has nothing to
// edit; its layout is not checked, so a folder preview does not stop on it.
bool may_contain_find(const Rsc7Resource& resource, std::string_view find, const Replacement& replacement,
                      MatchCase match_case, EncodingChoice encoding) {
  if (contains_literal(resource.decoded, find, match_case)) return true;
  const auto encoded = encode_binary_literals(find, replacement.typed(), encoding);
  return encoded && encoded->find != find && contains_literal(resource.decoded, encoded->find, match_case);
}

std::string summary_label(ResourceKind kind, const RelocatedResource& relocated) {
  return "GTA " + std::string(resource_kind_display_name(kind)) + " · " + std::to_string(relocated.moved) +
         " relocated strings · " + std::to_string(relocated.updated_hashes) + " updated texture hashes";
}

// Every name's new text decided in the graph, or nothing when the find text
// occurs nowhere in the pages.
struct RenamedGraph {
  NameGraph graph;
  std::uint64_t changed = 0;
};

Result<std::optional<RenamedGraph>> rename_names(const Rsc7Resource& resource, std::string_view find,
                                                 const Replacement& replacement, MatchCase match_case,
                                                 EncodingChoice encoding, ResourceKind kind) {
  using NoMatch = std::optional<RenamedGraph>;
  if (resource.decoded.size() != resource.system_size + resource.graphics_size)
    return fail("RSC7 page flags describe " + std::to_string(resource.system_size + resource.graphics_size) +
                " decoded bytes, but the stream contains " + std::to_string(resource.decoded.size()) +
                ". No content was changed.");
  if (find.empty() || !may_contain_find(resource, find, replacement, match_case, encoding)) return NoMatch{};

  const auto layout = layout_for_version(kind, resource.version);
  if (!layout)
    return fail("Unsupported " + std::string(resource_kind_display_name(kind)) + " resource version " +
                std::to_string(resource.version) + "; name relocation requires a validated YFT/YTD/YDR layout.");
  const BinaryLiterals encoded = TRY(encode_binary_literals(find, replacement.typed(), encoding));
  if (encoded.find != find || encoded.replacement != replacement.typed())
    return fail("Known YFT/YTD/YDR name fields use UTF-8. Choose Auto or UTF-8 for format-aware name relocation.");

  RenamedGraph renamed{TRY(build_name_graph(resource, kind, *layout)), 0};
  // Each name takes the case of its own matches, and the texture hashes are
  // computed from the names so made.
  const NameRenamer rename = [&](std::string_view name) -> Result<RenamedText> {
    TextReplacement replaced = TRY(replace_literal_text(name, find, replacement, match_case, kRenamedNameLimitBytes));
    return RenamedText{std::move(replaced.text), replaced.count};
  };
  renamed.changed = TRY(rename_resource_names(renamed.graph, resource, rename));
  return NoMatch{std::move(renamed)};
}

}  // namespace

Result<std::optional<ResourceEdit>> edit_named_resource(const Rsc7Resource& resource, std::string_view find,
                                                        const Replacement& replacement, MatchCase match_case,
                                                        EncodingChoice encoding, ResourceKind kind) {
  using NoChange = std::optional<ResourceEdit>;
  const std::optional<RenamedGraph> renamed =
      TRY(rename_names(resource, find, replacement, match_case, encoding, kind));
  if (!renamed) return NoChange{};
  const NameGraph& graph = renamed->graph;
  if (renamed->changed == 0) {
    if (auto offset = find_match_outside_names(resource.decoded, graph, find, match_case))
      return fail("A matching literal at decoded offset " + hex_offset(*offset) +
                  " is outside supported YFT/YTD/YDR name fields. No resource was changed; this field needs a "
                  "format-specific parser.");
    return NoChange{};
  }
  RelocatedResource relocated = TRY(relocate_resource_names(resource, graph, find, match_case));

  ResourceEdit edit;
  edit.decoded = std::move(relocated.decoded);
  edit.notices.push_back(
      "Schema-owned YFT/YTD/YDR names, references and texture dictionary hashes were rebuilt. Other game hashes, "
      "signatures and external references require independent validation.");
  edit.summary = summary_label(kind, relocated);
  edit.replacements = relocated.replacements;
  edit.new_system_flags = relocated.new_system_flags;
  return NoChange{std::move(edit)};
}

Result<std::vector<RenamedResourceName>> list_renamed_resource_names(std::string_view file, std::string_view find,
                                                                     const Replacement& replacement,
                                                                     MatchCase match_case, EncodingChoice encoding,
                                                                     ResourceKind kind) {
  const Rsc7Resource resource = TRY(decode_rsc7(file));
  const std::optional<RenamedGraph> renamed =
      TRY(rename_names(resource, find, replacement, match_case, encoding, kind));
  std::vector<RenamedResourceName> names;
  if (!renamed) return names;
  for (const ResourceName& name : renamed->graph.names) {
    if (name.changed()) names.push_back({name_role_label(name.role), name.text, *name.new_text});
  }
  return names;
}

Result<std::string> decode_rsc7_pages(std::string_view file) {
  Rsc7Resource resource = TRY(decode_rsc7(file));
  return std::move(resource.decoded);
}

}  // namespace tarnwick
