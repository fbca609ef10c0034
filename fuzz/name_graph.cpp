// Fuzz entry point for the YFT/YTD/YDR name graph and name relocation. Input:
// one options byte (bits 0-1 kind, bit 2 Gen9 layout, bit 3 ignore case, bit 4
// add a graphics page), find length, replacement length, the two texts, then
// the decoded system segment. An accepted edit must keep every known name
// reachable through its fields, under the new page layout.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "literal/literal.h"
#include "resource/fragment/name_graph.h"
#include "resource/rsc7.h"

namespace {

using namespace tarnwick;

constexpr std::size_t kMaxSystemBytes = 1 << 20;

void require(bool condition) {
  if (!condition) std::abort();
}

std::uint32_t single_page_flags(std::uint64_t bytes) {
  const std::uint64_t size = std::max<std::uint64_t>(8192, std::bit_ceil(bytes));
  return 0x00020000u | static_cast<std::uint32_t>(std::countr_zero(size) - 13);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::uint8_t options = data[0];
  const std::size_t find_bytes = data[1] % 17, replacement_bytes = data[2] % 33;
  if (size < 3 + find_bytes + replacement_bytes) return 0;
  const std::string find(input.substr(3, find_bytes));
  const std::string replacement(input.substr(3 + find_bytes, replacement_bytes));
  const std::string_view system = input.substr(3 + find_bytes + replacement_bytes);
  if (system.size() > kMaxSystemBytes) return 0;

  static constexpr ResourceKind kKinds[] = {ResourceKind::Ytd, ResourceKind::Ydr, ResourceKind::Yft, ResourceKind::Yft};
  static constexpr std::uint32_t kVersions[2][4] = {{13, 165, 162, 162}, {5, 159, 171, 171}};
  const ResourceKind kind = kKinds[options & 3];
  const bool gen9 = options & 4;
  const MatchCase match_case = options & 8 ? MatchCase::Ignore : MatchCase::Exact;

  Rsc7Resource resource;
  resource.version = kVersions[gen9][options & 3];
  resource.system_flags = single_page_flags(system.size());
  resource.graphics_flags = options & 16 ? 0x00020000u : 0;
  resource.system_size = page_flags_size(resource.system_flags);
  resource.graphics_size = page_flags_size(resource.graphics_flags);
  resource.system_pages = 1;
  resource.graphics_pages = options & 16 ? 1 : 0;
  resource.decoded = std::string(system);
  resource.decoded.resize(resource.system_size, '\0');
  for (std::uint64_t i = 0; i < resource.graphics_size; ++i) resource.decoded.push_back(static_cast<char>(i * 13 + 5));

  const auto edit = edit_named_resource(resource, find, replacement, match_case, EncodingChoice{}, kind);
  if (!edit.has_value() || !edit->has_value()) return 0;
  const ResourceEdit& result = **edit;

  const std::uint64_t new_system =
      result.new_system_flags ? page_flags_size(*result.new_system_flags) : resource.system_size;
  require(result.decoded.size() == new_system + resource.graphics_size);
  require(new_system >= resource.system_size);
  require(std::string_view(result.decoded).substr(new_system) ==
          std::string_view(resource.decoded).substr(resource.system_size));
  if (result.new_system_flags) require((*result.new_system_flags & 0xF0000000u) == 0);

  // Every pointer-owned name is still reached from each of its fields, with
  // the replacement applied; inline names stay where they were.
  const auto layout = layout_for_version(kind, resource.version);
  require(layout.has_value());
  const auto graph = build_name_graph(resource, kind, *layout);
  require(graph.has_value());
  const std::string_view pages = std::string_view(result.decoded).substr(0, new_system);
  for (const ResourceName& name : graph->names) {
    const auto renamed = replace_literal_text(name.text, find, replacement, match_case, 65536);
    require(renamed.has_value());
    if (name.is_inline) {
      require(pages.substr(name.start, renamed->text.size() + 1) == renamed->text + '\0');
      continue;
    }
    for (std::uint64_t field : name.referrers) {
      const std::uint64_t value = read_u64_le(pages, field);
      require(value >> 28 == 5 && value - kSystemAddressBase + renamed->text.size() < new_system);
      require(pages.substr(value - kSystemAddressBase, renamed->text.size() + 1) == renamed->text + '\0');
    }
  }
  return 0;
}
