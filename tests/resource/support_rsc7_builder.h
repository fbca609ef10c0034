// Lays out synthetic YTD, YDR and YFT system segments field by field, legacy
// and Gen9, so tests can reach every rule of the name graph with a few lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "resource/fragment/name_graph.h"
#include "resource/rsc7.h"

namespace tarnwick::testing {

inline constexpr std::uint64_t kBase = 0x50000000;

// The texture name hash written independently of the code under test.
std::uint32_t reference_name_hash(std::string_view name);

// A growing system segment; every allocation is 16-byte aligned and zeroed.
class SystemImage {
 public:
  explicit SystemImage(std::uint64_t root_bytes);

  std::uint64_t allocate(std::uint64_t bytes);
  void u8(std::uint64_t offset, std::uint8_t value);
  void u16(std::uint64_t offset, std::uint16_t value);
  void u32(std::uint64_t offset, std::uint32_t value);
  void u64(std::uint64_t offset, std::uint64_t value);
  void pointer(std::uint64_t field, std::uint64_t target) { u64(field, kBase + target); }
  std::uint64_t add_name(std::string_view text);  // text and NUL
  void put_text(std::uint64_t offset, std::string_view text);
  std::uint64_t add_page_info(std::uint8_t system_pages, std::uint8_t graphics_pages, std::uint8_t fill = 0);

  std::string bytes;
};

struct DictionaryAt {
  std::uint64_t dictionary = 0;
  std::uint64_t hashes = 0;    // element array of the hash list
  std::uint64_t pointers = 0;  // element array of the pointer list
  std::vector<std::uint64_t> textures;  // in stored (hash) order
  std::vector<std::uint64_t> names;
  std::vector<std::string> texts;
};

// Fills a 64-byte dictionary already allocated at `at`; entries are sorted by
// hash as the game stores them.
DictionaryAt fill_texture_dictionary(SystemImage& image, std::uint64_t at, ResourceLayout layout,
                                     const std::vector<std::string>& names);

struct DrawableContentsAt {
  std::uint64_t shader_group = 0;
  std::uint64_t shader = 0;
  std::uint64_t parameters = 0;  // legacy parameter block or Gen9 parameter header
  std::uint64_t table = 0;       // Gen9 texture-reference table
  std::vector<std::uint64_t> textures;
  std::vector<std::uint64_t> texture_names;
};

// A shader group with one shader that refers to one texture per name.
DrawableContentsAt fill_drawable_contents(SystemImage& image, std::uint64_t drawable, ResourceLayout layout,
                                          const std::vector<std::string>& texture_names);

struct SkeletonAt {
  std::uint64_t skeleton = 0;
  std::uint64_t bones = 0;  // first bone (the header is 16 bytes before)
  std::vector<std::uint64_t> names;
};
SkeletonAt add_skeleton(SystemImage& image, const std::vector<std::string>& bone_names);

struct YdrAt {
  std::uint64_t page_info = 0;
  std::uint64_t name = 0;
  SkeletonAt skeleton;
  DrawableContentsAt contents;
};
YdrAt build_ydr(SystemImage& image, ResourceLayout layout, std::string_view name,
                const std::vector<std::string>& bones, const std::vector<std::string>& textures);

struct YftAt {
  std::uint64_t page_info = 0;
  std::uint64_t name = 0;
  std::uint64_t drawable = 0;
  std::uint64_t drawable_name = 0;
  std::uint64_t lod = 0;
  std::uint64_t group_name_array = 0;
  std::vector<std::uint64_t> group_names;  // inline 40-byte fields
  std::vector<std::uint64_t> groups;
  std::uint64_t child = 0;
  std::uint64_t archetype = 0;
  std::uint64_t archetype_name = 0;
  std::uint64_t cloth = 0;
  std::uint64_t cloth_child = 0;
  DrawableContentsAt contents;
};
// Root, one drawable with contents, a physics LOD with groups, one child and
// an archetype, and one environment cloth with a 32-byte inline name.
YftAt build_yft(SystemImage& image, ResourceLayout layout, std::string_view name, std::string_view drawable_name,
                const std::vector<std::string>& group_names, const std::vector<std::string>& textures);

struct YtdAt {
  std::uint64_t page_info = 0;
  DictionaryAt dictionary;
};
YtdAt build_ytd(SystemImage& image, ResourceLayout layout, const std::vector<std::string>& names);

// Flags for one page of 16 × base covering at least `bytes` (at least 8192).
std::uint32_t single_page_flags(std::uint64_t bytes);
std::uint64_t reference_flags_size(std::uint32_t flags);
std::uint64_t reference_flags_count(std::uint32_t flags);

std::uint32_t version_for(ResourceKind kind, ResourceLayout layout);

// A decoded resource: the system image padded to its page, then graphics.
Rsc7Resource make_resource(const SystemImage& image, ResourceKind kind, ResourceLayout layout,
                           std::uint32_t graphics_flags = 0, std::uint32_t system_top_bits = 0);

// The whole file: header, raw DEFLATE stream made with zlib.
std::string make_file(const Rsc7Resource& resource);

// Inflates a whole file with zlib (the independent decoder for round trips).
struct InflatedFile {
  std::uint32_t version = 0;
  std::uint32_t system_flags = 0;
  std::uint32_t graphics_flags = 0;
  std::string decoded;
  std::string trailing;
};
InflatedFile inflate_file(std::string_view file);
Rsc7Resource resource_from_file(std::string_view file);

std::uint64_t le64_at(std::string_view bytes, std::uint64_t offset);
std::uint32_t le32_at(std::string_view bytes, std::uint64_t offset);
std::string c_string_at(std::string_view bytes, std::uint64_t offset);

}  // namespace tarnwick::testing
