// The YFT/YTD/YDR name graph: which bytes of a decoded system segment are known
// metadata, which fields hold or point to names, and the names themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/text.h"  // hex_offset, for the offsets in messages
#include "resource/resource.h"
#include "resource/rsc7.h"

namespace tarnwick {

// Record sizes and a few field widths differ between the two generations.
enum class ResourceLayout : std::uint8_t { Legacy, Gen9 };

inline constexpr std::uint64_t kMaxGraphOperations = 100'000;
inline constexpr std::uint64_t kMaxGraphRecords = 100'000;
inline constexpr std::uint64_t kMaxNameBytes = 65'536;            // text without its NUL
inline constexpr std::uint64_t kMaxRetainedNameBytes = 64ull << 20;

// "Fragment", "TextureDictionary" or "Drawable".
std::string_view resource_kind_display_name(ResourceKind kind);

// The layout a kind's version selects, or nothing for an unsupported version.
std::optional<ResourceLayout> layout_for_version(ResourceKind kind, std::uint32_t version);

struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct InlineNameField {
  std::uint64_t offset = 0;
  std::uint64_t capacity = 0;
};

struct TextureDictionaryLists {
  std::uint64_t hash_array = 0;     // system offset of the u32 name hashes
  std::uint64_t pointer_array = 0;  // system offset of the texture pointers
  std::uint64_t count = 0;
};

// What a name field names, as the review lists renamed names.
enum class NameRole : std::uint8_t { Fragment, Drawable, Bone, Archetype, PhysicsGroup, Cloth, Texture };

// "fragment name", "drawable name", "bone name", "archetype name",
// "physics group name", "cloth name", "texture name".
std::string_view name_role_label(NameRole role);

struct ResourceName {
  std::uint64_t start = 0;
  std::string text;  // UTF-8, without its NUL
  std::uint64_t end = 0;  // one past the NUL
  bool is_inline = false;
  std::uint64_t capacity = 0;                    // inline names only
  std::vector<std::uint64_t> referrers;          // pointer-owned names only: fields pointing here
  // Pointer-owned names only: the start of the pointer-owned name whose
  // string this one is the tail of (its pointers point inside that string,
  // and the two share their NUL), as real fragments name their archetype.
  std::optional<std::uint64_t> outer;
  std::optional<std::string> new_text;           // set by renaming when the text changed
  std::uint64_t replacements = 0;
  // The role of the field that reaches it first (the lowest pointer field).
  NameRole role = NameRole::Drawable;

  bool changed() const { return new_text.has_value(); }
  const std::string& final_text() const { return new_text ? *new_text : text; }
  // Inline names own their whole field; pointer-owned names end at their NUL.
  std::uint64_t extent_end() const { return is_inline ? start + capacity : end; }
};

struct NameGraph {
  ResourceLayout layout = ResourceLayout::Legacy;
  std::vector<ByteRange> owned;                    // sorted and merged once the walk ends
  std::vector<std::uint64_t> name_pointer_fields;  // sorted, distinct
  std::vector<InlineNameField> inline_fields;      // sorted by offset, distinct offsets
  std::vector<std::uint64_t> drawables;
  std::vector<std::uint64_t> page_info_fields;     // sorted, distinct
  std::vector<std::uint64_t> page_info_records;    // sorted, distinct record offsets
  std::vector<TextureDictionaryLists> dictionaries;
  std::vector<ResourceName> names;                 // ordered by start offset

  // The name starting exactly at offset, if any.
  const ResourceName* name_at(std::uint64_t start) const;
  bool is_name_pointer_field(std::uint64_t offset) const;
};

// Walks the kind's records from the root, checks the page-info records and
// reads every name. The resource's system segment is decoded[0, system_size).
Result<NameGraph> build_name_graph(const Rsc7Resource& resource, ResourceKind kind, ResourceLayout layout);

// Little-endian helpers over the decoded bytes; callers check bounds first.
std::uint64_t read_u64_le(std::string_view bytes, std::uint64_t offset);
std::uint32_t read_u32_le(std::string_view bytes, std::uint64_t offset);
std::uint16_t read_u16_le(std::string_view bytes, std::uint64_t offset);

// True when text holds U+0000 to U+001F or U+007F to U+009F.
bool has_name_control_character(std::string_view text);

}  // namespace tarnwick
