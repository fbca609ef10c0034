// Walks YFT/YTD/YDR records from the root of the decoded system segment and
// reads every known name, refusing any layout it cannot account for.
#include "resource/fragment/name_graph.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "common/text.h"

namespace tarnwick {

namespace {

// Record layouts: the bytes each record claims from its start, and the
// offsets of the fields the walk reads. Pointers are 8 bytes, counts
// little-endian of the width given.
constexpr std::uint64_t kPointerBytes = 8;
// Every root, drawable and texture dictionary points to its page-info record here.
constexpr std::uint64_t kPageInfoFieldOffset = 8;

// Fragment root (YFT), at system offset 0.
namespace fragment_root {
constexpr std::uint64_t kBytes = 304;
constexpr std::uint64_t kDrawable = 48;           // pointer to the main drawable
constexpr std::uint64_t kDrawableArray = 56;      // pointer to an array of drawable pointers
constexpr std::uint64_t kDrawableNameArray = 64;  // pointer to an array of name pointers
constexpr std::uint64_t kDrawableCount = 72;      // u32, elements of both arrays
constexpr std::uint64_t kName = 88;               // name pointer ("pack:/{model}" in real files)
constexpr std::uint64_t kClothArray = 96;         // pointer to environment cloth pointers
constexpr std::uint64_t kClothCount = 104;        // u16
constexpr std::uint64_t kClothCapacity = 106;     // u16, elements of the cloth array
constexpr std::uint64_t kPhysicsLodGroup = 240;   // pointer
constexpr std::uint64_t kExtraDrawable = 248;     // pointer to a second drawable
}  // namespace fragment_root

// Drawable root (YDR), at system offset 0; it is itself a drawable.
namespace drawable_root {
constexpr std::uint64_t kBytes = 208;
constexpr std::uint64_t kSkeleton = 24;  // pointer
constexpr std::uint64_t kName = 168;     // name pointer
}  // namespace drawable_root

// Drawable inside a fragment.
namespace drawable {
constexpr std::uint64_t kBytes = 336;
constexpr std::uint64_t kSkeleton = 24;  // pointer
constexpr std::uint64_t kName = 304;     // name pointer
}  // namespace drawable

// Skeleton; its bones array is preceded by a 16-byte header whose first u32
// repeats the bone count (or, in some real files, holds zero).
namespace skeleton {
constexpr std::uint64_t kBytes = 112;
constexpr std::uint64_t kBones = 32;      // pointer to the first bone, behind the header
constexpr std::uint64_t kBoneCount = 94;  // u16
constexpr std::uint64_t kBonesHeaderBytes = 16;
constexpr std::uint64_t kHeaderCount = 0;  // u32, from the header start
constexpr std::uint64_t kBoneBytes = 80;
constexpr std::uint64_t kBoneName = 56;  // name pointer, from the bone start
}  // namespace skeleton

// Physics LOD group: three LOD pointers.
namespace physics_lod_group {
constexpr std::uint64_t kBytes = 48;
constexpr std::uint64_t kLods[] = {16, 24, 32};
}  // namespace physics_lod_group

// Physics LOD: groups (named through the group-name array), children and archetypes.
namespace physics_lod {
constexpr std::uint64_t kBytes = 304;
constexpr std::uint64_t kGroupNameArray = 192;  // pointer to group count + 1 pointers to 40-byte name fields
constexpr std::uint64_t kGroupArray = 200;      // pointer to group pointers
constexpr std::uint64_t kChildArray = 208;      // pointer to child pointers
constexpr std::uint64_t kArchetypes[] = {216, 224};
constexpr std::uint64_t kGroupCount = 282;  // u8
constexpr std::uint64_t kChildCount = 285;  // u8
}  // namespace physics_lod

// Physics group: legacy records are 128 bytes and carry no name; Gen9 records
// hold their name inline.
namespace physics_group {
constexpr std::uint64_t kLegacyBytes = 128;
constexpr std::uint64_t kGen9Bytes = 176;
constexpr std::uint64_t kGen9Name = 128;     // inline field
constexpr std::uint64_t kNameCapacity = 40;  // also of the fields the group-name array points to
}  // namespace physics_group

// Physics child: two drawable pointers.
namespace physics_child {
constexpr std::uint64_t kBytes = 256;
constexpr std::uint64_t kDrawables[] = {160, 168};
}  // namespace physics_child

// Archetype: a name pointer (in real files often into the fragment's name).
namespace archetype {
constexpr std::uint64_t kBytes = 224;
constexpr std::uint64_t kName = 24;
}  // namespace archetype

// Environment cloth: a drawable and a child record with the cloth's name.
namespace environment_cloth {
constexpr std::uint64_t kBytes = 128;
constexpr std::uint64_t kDrawable = 24;    // pointer
constexpr std::uint64_t kClothChild = 40;  // pointer
}  // namespace environment_cloth

namespace cloth_child {
constexpr std::uint64_t kBytes = 128;
constexpr std::uint64_t kName = 88;  // inline field
constexpr std::uint64_t kNameCapacity = 32;
}  // namespace cloth_child

// Drawable base, the part every drawable shares: its shader group.
namespace drawable_base {
constexpr std::uint64_t kBytes = 168;
constexpr std::uint64_t kShaderGroup = 16;  // pointer
}  // namespace drawable_base

// Shader group: an embedded texture dictionary and the shader pointer array.
namespace shader_group {
constexpr std::uint64_t kBytes = 64;
constexpr std::uint64_t kTextureDictionary = 8;  // pointer
constexpr std::uint64_t kShaderArray = 16;       // pointer to capacity shader pointers
constexpr std::uint64_t kShaderCount = 24;       // u16
constexpr std::uint64_t kShaderCapacity = 26;    // u16
}  // namespace shader_group

// Legacy shader: a block of 16-byte parameters; a parameter whose first byte
// is 0 holds a texture pointer at +8.
namespace legacy_shader {
constexpr std::uint64_t kBytes = 48;
constexpr std::uint64_t kParameters = 0;       // pointer
constexpr std::uint64_t kParameterCount = 16;  // u8
constexpr std::uint64_t kParameterBytes = 16;
constexpr std::uint64_t kParameterType = 0;  // u8, 0 for a texture
constexpr std::uint64_t kParameterTexture = 8;
}  // namespace legacy_shader

// Gen9 shader: a texture-reference table of texture count × copy count
// pointers, and a parameter header whose 8-byte entries follow its first 8
// bytes; an entry's u32 at +4 (from the header, +12 + 8 × i) with its low two
// bits clear refers to table slot (value >> 2) & 0xFF.
namespace gen9_shader {
constexpr std::uint64_t kBytes = 64;
constexpr std::uint64_t kTextureTable = 16;     // pointer
constexpr std::uint64_t kParameterHeader = 32;  // pointer
constexpr std::uint64_t kHeaderBytes = 8;
constexpr std::uint64_t kTextureCount = 1;  // u8, from the header start
constexpr std::uint64_t kEntryCount = 4;    // u8
constexpr std::uint64_t kCopyCount = 7;     // u8
constexpr std::uint64_t kEntryBytes = 8;
constexpr std::uint64_t kFirstEntryValue = 12;  // u32
}  // namespace gen9_shader

// Texture dictionary (the YTD root, or embedded in a shader group): two lists,
// u32 name hashes and texture pointers, kept in the order of the hashes.
namespace texture_dictionary {
constexpr std::uint64_t kBytes = 64;
constexpr std::uint64_t kHashList = 32;     // list header
constexpr std::uint64_t kTextureList = 48;  // list header
constexpr std::uint64_t kHashBytes = 4;
constexpr std::uint64_t kLegacyTextureBytes = 144;  // a dictionary entry claims more than a texture
}  // namespace texture_dictionary

// List header: element pointer, u16 count, u16 capacity, four bytes not read.
namespace list_header {
constexpr std::uint64_t kBytes = 16;
constexpr std::uint64_t kElements = 0;
constexpr std::uint64_t kCount = 8;
constexpr std::uint64_t kCapacity = 10;
}  // namespace list_header

namespace texture {
constexpr std::uint64_t kBytes = 80;
constexpr std::uint64_t kName = 40;  // name pointer
}  // namespace texture

// Page-info record: u8 system and graphics page counts, then one 8-byte entry per page.
namespace page_info {
constexpr std::uint64_t kHeaderBytes = 16;
constexpr std::uint64_t kSystemPages = 8;
constexpr std::uint64_t kGraphicsPages = 9;
constexpr std::uint64_t kEntryBytes = 8;
}  // namespace page_info

// A debug allocator fills unused memory with this byte; loaders fill the
// page-info slots at run time, so real files carry it there.
constexpr char kDebugFillByte = static_cast<char>(0xCD);

enum class RecordKind : std::uint8_t {
  Drawable,
  Skeleton,
  PhysicsLodGroup,
  PhysicsLod,
  PhysicsGroup,
  PhysicsChild,
  Archetype,
  EnvironmentCloth,
  ClothChild,
  DrawableBase,
  ShaderGroup,
  Shader,
  TextureDictionary,
  Texture,
};

using RecordKey = std::pair<RecordKind, std::uint64_t>;

std::string yft_truncated(std::uint64_t offset) {
  return "YFT structure at system offset " + hex_offset(offset) + " is truncated or outside the system segment.";
}
std::string schema_outside(std::uint64_t offset) {
  return "Schema field at decoded offset " + hex_offset(offset) + " is outside system storage.";
}
std::string unsupported_pointer(std::uint64_t value) {
  return "Unsupported non-system pointer " + hex_offset(value) + " in resource name graph.";
}

bool is_system_pointer(std::uint64_t value) { return (value >> 28) == (kSystemAddressBase >> 28); }

// How refusals of the fragment and drawable walk name the file's format.
std::string_view format_name(ResourceKind kind) {
  switch (kind) {
    case ResourceKind::Ydr: return "YDR";
    case ResourceKind::Ytd: return "YTD";
    case ResourceKind::Yft:
    case ResourceKind::None: break;
  }
  return "YFT";
}

}  // namespace

bool has_name_control_character(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) return true;
    // U+0080 to U+009F are the two-byte sequences C2 80 to C2 9F.
    if (byte == 0xC2 && i + 1 < text.size()) {
      const auto next = static_cast<unsigned char>(text[i + 1]);
      if (next >= 0x80 && next <= 0x9F) return true;
    }
  }
  return false;
}

namespace {

class GraphBuilder {
 public:
  GraphBuilder(const Rsc7Resource& resource, ResourceLayout layout)
      : system_(std::string_view(resource.decoded).substr(0, resource.system_size)), layout_(layout) {
    graph_.layout = layout;
  }

  Result<NameGraph> build(ResourceKind kind) {
    kind_ = kind;
    switch (kind) {
      case ResourceKind::Ytd:
        TRY(walk_texture_dictionary(0));
        break;
      case ResourceKind::Ydr:
        TRY(walk_drawable_root());
        TRY(drain_work_list());
        break;
      case ResourceKind::Yft:
        TRY(walk_fragment_root());
        TRY(drain_work_list());
        break;
      case ResourceKind::None:
        return fail("Unsupported resource kind for name relocation.");
    }
    for (std::size_t i = 0; i < graph_.drawables.size(); ++i) TRY(walk_drawable_contents(graph_.drawables[i]));
    TRY(check_page_info_records());
    merge_owned_ranges();
    TRY(read_pointer_owned_names());
    TRY(read_inline_names());
    finish();
    return std::move(graph_);
  }

 private:
  // ---- shared helpers ----------------------------------------------------
  bool fits(std::uint64_t offset, std::uint64_t length) const {
    return offset <= system_.size() && length <= system_.size() - offset;
  }
  void add_page_info_field(std::uint64_t field) { page_info_fields_.insert(field); }

  // ---- fragment and drawable-root walk (YFT/YDR messages) -----------------
  Result<void> count_operation() {
    if (++operations_ > kMaxGraphOperations)
      return fail("YFT fragment name graph exceeds the 100,000-operation safety limit.");
    return {};
  }

  Result<void> frag_claim(std::uint64_t offset, std::uint64_t length) {
    if (!fits(offset, length)) return fail(yft_truncated(offset));
    graph_.owned.push_back({offset, length});
    return {};
  }

  // The system offset a pointer field refers to, or nothing when it is null.
  Result<std::optional<std::uint64_t>> frag_pointer(std::uint64_t field) {
    if (!fits(field, kPointerBytes)) return fail(yft_truncated(field));
    const std::uint64_t value = read_u64_le(system_, field);
    if (value == 0) return std::optional<std::uint64_t>{};
    if (!is_system_pointer(value))
      return fail("YFT name graph contains a pointer outside the resource system address space.");
    return std::optional<std::uint64_t>{value - kSystemAddressBase};
  }

  Result<void> queue_record(RecordKind kind, std::uint64_t offset) {
    if (!queued_.insert({kind, offset}).second) return {};
    TRY(count_operation());
    work_.push_back({kind, offset});
    return {};
  }

  Result<void> queue_pointer(std::uint64_t field, RecordKind kind) {
    const auto target = TRY(frag_pointer(field));
    if (target) TRY(queue_record(kind, *target));
    return {};
  }

  // A field reached along several paths keeps the role it was first reached as.
  Result<void> add_name_field(std::uint64_t field, NameRole role) {
    TRY(count_operation());
    if (!fits(field, kPointerBytes)) return fail(yft_truncated(field));
    name_fields_.emplace(field, role);
    return {};
  }

  Result<void> add_inline_field(std::uint64_t offset, std::uint64_t capacity, NameRole role) {
    TRY(count_operation());
    const auto [it, inserted] = inline_fields_.emplace(offset, InlineSlot{capacity, role});
    if (!inserted && it->second.capacity != capacity)
      return fail("YFT inline name fields have conflicting capacities.");
    return {};
  }

  // A pointer array of count elements; visit gets each element's field offset.
  template <class Visit>
  Result<void> walk_pointer_array(std::uint64_t field, std::uint64_t count, std::uint64_t visited_count,
                                  std::string_view label, Visit visit) {
    if (count > kMaxGraphOperations) return fail("YFT " + std::string(label) + " count exceeds the safety limit.");
    const auto array = TRY(frag_pointer(field));
    if (!array) {
      if (count != 0) return fail("YFT " + std::string(label) + " has a nonzero count and a null pointer.");
      return {};
    }
    TRY(frag_claim(*array, count * kPointerBytes));
    for (std::uint64_t i = 0; i < visited_count; ++i) {
      TRY(count_operation());
      const std::uint64_t element = *array + i * kPointerBytes;
      if (read_u64_le(system_, element) == 0) continue;
      TRY(visit(element));
    }
    return {};
  }

  Result<void> walk_fragment_root() {
    using namespace fragment_root;
    TRY(frag_claim(0, kBytes));
    add_page_info_field(kPageInfoFieldOffset);
    TRY(add_name_field(kName, NameRole::Fragment));
    TRY(queue_pointer(kDrawable, RecordKind::Drawable));
    TRY(queue_pointer(kExtraDrawable, RecordKind::Drawable));
    const std::uint64_t count = read_u32_le(system_, kDrawableCount);
    TRY(walk_pointer_array(kDrawableArray, count, count, "drawable array",
                           [&](std::uint64_t element) { return queue_pointer(element, RecordKind::Drawable); }));
    TRY(walk_pointer_array(kDrawableNameArray, count, count, "drawable name array",
                           [&](std::uint64_t element) { return add_name_field(element, NameRole::Drawable); }));
    TRY(queue_pointer(kPhysicsLodGroup, RecordKind::PhysicsLodGroup));
    const std::uint64_t cloth_count = read_u16_le(system_, kClothCount);
    const std::uint64_t cloth_capacity = read_u16_le(system_, kClothCapacity);
    if (cloth_count > cloth_capacity) return fail("YFT cloth list count exceeds its capacity.");
    return walk_pointer_array(kClothArray, cloth_capacity, cloth_count, "environment cloth capacity",
                              [&](std::uint64_t element) { return queue_pointer(element, RecordKind::EnvironmentCloth); });
  }

  Result<void> walk_drawable_root() {
    TRY(frag_claim(0, drawable_root::kBytes));
    add_page_info_field(kPageInfoFieldOffset);
    TRY(add_name_field(drawable_root::kName, NameRole::Drawable));
    register_drawable(0);
    return queue_pointer(drawable_root::kSkeleton, RecordKind::Skeleton);
  }

  void register_drawable(std::uint64_t offset) {
    if (drawable_set_.insert(offset).second) graph_.drawables.push_back(offset);
  }

  Result<void> drain_work_list() {
    while (!work_.empty()) {
      const auto [kind, offset] = work_.back();
      work_.pop_back();
      TRY(process_record(kind, offset));
    }
    return {};
  }

  Result<void> process_record(RecordKind kind, std::uint64_t offset) {
    switch (kind) {
      case RecordKind::Drawable:
        TRY(frag_claim(offset, drawable::kBytes));
        add_page_info_field(offset + kPageInfoFieldOffset);
        TRY(queue_pointer(offset + drawable::kSkeleton, RecordKind::Skeleton));
        TRY(add_name_field(offset + drawable::kName, NameRole::Drawable));
        register_drawable(offset);
        return {};
      case RecordKind::Skeleton:
        return process_skeleton(offset);
      case RecordKind::PhysicsLodGroup:
        TRY(frag_claim(offset, physics_lod_group::kBytes));
        for (std::uint64_t field : physics_lod_group::kLods) TRY(queue_pointer(offset + field, RecordKind::PhysicsLod));
        return {};
      case RecordKind::PhysicsLod:
        return process_physics_lod(offset);
      case RecordKind::PhysicsGroup:
        // Legacy group records are 128 bytes apart and carry no name of their
        // own: the names live where the group-name array points.
        if (layout_ == ResourceLayout::Legacy) return frag_claim(offset, physics_group::kLegacyBytes);
        TRY(frag_claim(offset, physics_group::kGen9Bytes));
        return add_inline_field(offset + physics_group::kGen9Name, physics_group::kNameCapacity, NameRole::PhysicsGroup);
      case RecordKind::PhysicsChild:
        TRY(frag_claim(offset, physics_child::kBytes));
        for (std::uint64_t field : physics_child::kDrawables) TRY(queue_pointer(offset + field, RecordKind::Drawable));
        return {};
      case RecordKind::Archetype:
        TRY(frag_claim(offset, archetype::kBytes));
        return add_name_field(offset + archetype::kName, NameRole::Archetype);
      case RecordKind::EnvironmentCloth:
        TRY(frag_claim(offset, environment_cloth::kBytes));
        TRY(queue_pointer(offset + environment_cloth::kDrawable, RecordKind::Drawable));
        return queue_pointer(offset + environment_cloth::kClothChild, RecordKind::ClothChild);
      case RecordKind::ClothChild:
        TRY(frag_claim(offset, cloth_child::kBytes));
        return add_inline_field(offset + cloth_child::kName, cloth_child::kNameCapacity, NameRole::Cloth);
      default:
        return fail(yft_truncated(offset));  // drawable contents are never queued here
    }
  }

  Result<void> process_skeleton(std::uint64_t offset) {
    using namespace skeleton;
    TRY(frag_claim(offset, kBytes));
    const std::uint64_t bone_count = read_u16_le(system_, offset + kBoneCount);
    if (bone_count == 0) return {};
    const std::string kind(format_name(kind_));
    const auto bones = TRY(frag_pointer(offset + kBones));
    if (!bones) return fail(kind + " skeleton has bones but a null bones pointer.");
    if (*bones < kBonesHeaderBytes) return fail(kind + " skeleton bones header is outside the system segment.");
    const std::uint64_t header = *bones - kBonesHeaderBytes;
    TRY(frag_claim(header, kBonesHeaderBytes + bone_count * kBoneBytes));
    // Some real drawables leave the header's count at zero: the skeleton's own
    // count and the bones inside the page then describe the array, as they
    // do for page-info counts. Any other disagreement is a layout not understood.
    const std::uint32_t header_count = read_u32_le(system_, header + kHeaderCount);
    if (header_count != bone_count && header_count != 0)
      return fail(kind + " skeleton count disagrees with its bones array header.");
    for (std::uint64_t i = 0; i < bone_count; ++i) TRY(add_name_field(*bones + i * kBoneBytes + kBoneName, NameRole::Bone));
    return {};
  }


  Result<void> process_physics_lod(std::uint64_t offset) {
    using namespace physics_lod;
    TRY(frag_claim(offset, kBytes));
    const std::uint64_t groups = static_cast<unsigned char>(system_[offset + kGroupCount]);
    const std::uint64_t children = static_cast<unsigned char>(system_[offset + kChildCount]);
    const auto group_names = TRY(frag_pointer(offset + kGroupNameArray));
    if (group_names) {
      TRY(frag_claim(*group_names, groups * kPointerBytes + kPointerBytes));
      for (std::uint64_t i = 0; i < groups; ++i) {
        TRY(count_operation());
        const auto name = TRY(frag_pointer(*group_names + i * kPointerBytes));
        if (!name) continue;
        if (!fits(*name, physics_group::kNameCapacity)) return fail(yft_truncated(*name));
        TRY(add_inline_field(*name, physics_group::kNameCapacity, NameRole::PhysicsGroup));
      }
    }
    TRY(walk_pointer_array(offset + kGroupArray, groups, groups, "physics groups",
                           [&](std::uint64_t element) { return queue_pointer(element, RecordKind::PhysicsGroup); }));
    TRY(walk_pointer_array(offset + kChildArray, children, children, "physics children",
                           [&](std::uint64_t element) { return queue_pointer(element, RecordKind::PhysicsChild); }));
    for (std::uint64_t field : kArchetypes) TRY(queue_pointer(offset + field, RecordKind::Archetype));
    return {};
  }

  // ---- drawable, shader and texture walk ----------------------------------
  Result<void> claim(std::uint64_t offset, std::uint64_t length) {
    if (++claims_ > kMaxGraphRecords) return fail("Resource graph exceeds 100,000 bounded records.");
    if (!fits(offset, length)) return fail(schema_outside(offset));
    graph_.owned.push_back({offset, length});
    return {};
  }

  Result<std::optional<std::uint64_t>> pointer(std::uint64_t field) {
    if (!fits(field, kPointerBytes)) return fail(schema_outside(field));
    const std::uint64_t value = read_u64_le(system_, field);
    if (value == 0) return std::optional<std::uint64_t>{};
    if (!is_system_pointer(value)) return fail(unsupported_pointer(value));
    return std::optional<std::uint64_t>{value - kSystemAddressBase};
  }

  // True when the record is new; counts it against the record limit.
  Result<bool> visit(RecordKind kind, std::uint64_t offset) {
    if (!visited_.insert({kind, offset}).second) return false;
    if (++records_ > kMaxGraphRecords) return fail("Resource graph exceeds 100,000 bounded records.");
    return true;
  }

  Result<void> walk_drawable_contents(std::uint64_t drawable) {
    if (!TRY(visit(RecordKind::DrawableBase, drawable))) return {};
    TRY(claim(drawable, drawable_base::kBytes));
    add_page_info_field(drawable + kPageInfoFieldOffset);
    const auto group = TRY(pointer(drawable + drawable_base::kShaderGroup));
    if (group) TRY(walk_shader_group(*group));
    return {};
  }

  Result<void> walk_shader_group(std::uint64_t group) {
    if (!TRY(visit(RecordKind::ShaderGroup, group))) return {};
    TRY(claim(group, shader_group::kBytes));
    const auto dictionary = TRY(pointer(group + shader_group::kTextureDictionary));
    if (dictionary) TRY(walk_texture_dictionary(*dictionary));
    const std::uint64_t count = read_u16_le(system_, group + shader_group::kShaderCount);
    const std::uint64_t capacity = read_u16_le(system_, group + shader_group::kShaderCapacity);
    if (count == 0) return {};
    if (capacity < count) return fail("Shader pointer count exceeds capacity.");
    const auto array = TRY(pointer(group + shader_group::kShaderArray));
    if (!array) return fail("Shader group has a null shader array.");
    TRY(claim(*array, capacity * kPointerBytes));
    for (std::uint64_t i = 0; i < count; ++i) {
      const auto shader = TRY(pointer(*array + i * kPointerBytes));
      if (!shader) continue;
      if (layout_ == ResourceLayout::Legacy) {
        TRY(walk_legacy_shader(*shader));
      } else {
        TRY(walk_gen9_shader(*shader));
      }
    }
    return {};
  }

  Result<void> walk_legacy_shader(std::uint64_t shader) {
    using namespace legacy_shader;
    if (!TRY(visit(RecordKind::Shader, shader))) return {};
    TRY(claim(shader, kBytes));
    const std::uint64_t count = static_cast<unsigned char>(system_[shader + kParameterCount]);
    if (count == 0) return {};
    const auto block = TRY(pointer(shader + kParameters));
    if (!block) return fail("Shader has a null parameter block.");
    TRY(claim(*block, count * kParameterBytes));
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t parameter = *block + i * kParameterBytes;
      if (system_[parameter + kParameterType] != 0) continue;  // only type 0 parameters hold a texture
      const auto texture = TRY(pointer(parameter + kParameterTexture));
      if (texture) TRY(walk_texture(*texture));
    }
    return {};
  }

  Result<void> walk_gen9_shader(std::uint64_t shader) {
    using namespace gen9_shader;
    if (!TRY(visit(RecordKind::Shader, shader))) return {};
    TRY(claim(shader, kBytes));
    const auto header = TRY(pointer(shader + kParameterHeader));
    if (!header) return {};
    if (!fits(*header, kHeaderBytes)) return fail(schema_outside(*header));
    const std::uint64_t texture_count = static_cast<unsigned char>(system_[*header + kTextureCount]);
    const std::uint64_t entry_count = static_cast<unsigned char>(system_[*header + kEntryCount]);
    const std::uint64_t copy_count = static_cast<unsigned char>(system_[*header + kCopyCount]);
    TRY(claim(*header, entry_count * kEntryBytes + kHeaderBytes));
    if (texture_count == 0) return {};
    if (copy_count == 0) return fail("Gen9 shader texture-copy count is zero.");
    const auto table = TRY(pointer(shader + kTextureTable));
    if (!table) return fail("Gen9 shader texture-reference table is null.");
    const std::uint64_t slots = texture_count * copy_count;
    TRY(claim(*table, slots * kPointerBytes));
    for (std::uint64_t i = 0; i < entry_count; ++i) {
      const std::uint32_t entry = read_u32_le(system_, *header + kFirstEntryValue + kEntryBytes * i);
      if ((entry & 3) != 0) continue;  // not a texture reference
      const std::uint64_t slot = (entry >> 2) & 0xFF;
      if (slot >= slots) return fail("Gen9 shader texture index exceeds its reference table.");
      const auto texture = TRY(pointer(*table + slot * kPointerBytes));
      if (texture) TRY(walk_texture(*texture));
    }
    return {};
  }

  Result<void> walk_texture(std::uint64_t texture) {
    if (!TRY(visit(RecordKind::Texture, texture))) return {};
    TRY(claim(texture, texture::kBytes));
    name_fields_.emplace(texture + texture::kName, NameRole::Texture);
    return {};
  }

  struct ListHeader {
    std::optional<std::uint64_t> elements;
    std::uint64_t count = 0;
  };

  Result<ListHeader> read_list_header(std::uint64_t header, std::uint64_t element_bytes) {
    TRY(claim(header, list_header::kBytes));
    ListHeader list;
    list.count = read_u16_le(system_, header + list_header::kCount);
    const std::uint64_t capacity = read_u16_le(system_, header + list_header::kCapacity);
    if (capacity < list.count) return fail("Resource list count exceeds capacity at " + hex_offset(header) + ".");
    list.elements = TRY(pointer(header + list_header::kElements));
    if (capacity > 0) {
      if (!list.elements) return fail("Nonempty resource list has a null pointer.");
      TRY(claim(*list.elements, element_bytes * capacity));
    }
    return list;
  }

  Result<void> walk_texture_dictionary(std::uint64_t dictionary) {
    if (!TRY(visit(RecordKind::TextureDictionary, dictionary))) return {};
    TRY(claim(dictionary, texture_dictionary::kBytes));
    add_page_info_field(dictionary + kPageInfoFieldOffset);
    const ListHeader hashes =
        TRY(read_list_header(dictionary + texture_dictionary::kHashList, texture_dictionary::kHashBytes));
    const ListHeader textures = TRY(read_list_header(dictionary + texture_dictionary::kTextureList, kPointerBytes));
    if (hashes.count != textures.count) return fail("Texture dictionary hash and pointer counts disagree.");
    const std::uint64_t entry_bytes =
        layout_ == ResourceLayout::Legacy ? texture_dictionary::kLegacyTextureBytes : texture::kBytes;
    for (std::uint64_t i = 0; i < textures.count; ++i) {
      const auto texture = TRY(pointer(*textures.elements + i * kPointerBytes));
      if (!texture) return fail("Texture dictionary contains a null texture.");
      TRY(claim(*texture, entry_bytes));
      TRY(walk_texture(*texture));
    }
    if (textures.count > 0)
      graph_.dictionaries.push_back({*hashes.elements, *textures.elements, textures.count});
    return {};
  }

  // ---- page-info records --------------------------------------------------
  Result<void> check_page_info_records() {
    std::set<std::uint64_t> records;
    for (std::uint64_t field : page_info_fields_) {
      const auto record = TRY(pointer(field));
      if (!record) {
        if (field == kPageInfoFieldOffset) return fail("Root resource page-info pointer is missing.");
        continue;
      }
      if (!records.insert(*record).second) continue;
      if (!fits(*record, page_info::kHeaderBytes)) return fail(schema_outside(*record));
      // Real files record page counts that differ from the flags; the record
      // is claimed by its own counts, clipped to the system segment.
      const std::uint64_t pages = static_cast<unsigned char>(system_[*record + page_info::kSystemPages]) +
                                  static_cast<unsigned char>(system_[*record + page_info::kGraphicsPages]);
      const std::uint64_t entries_begin = *record + page_info::kHeaderBytes;
      const std::uint64_t entries_end =
          std::min<std::uint64_t>(entries_begin + pages * page_info::kEntryBytes, system_.size());
      graph_.owned.push_back({*record, entries_end - *record});
      const std::string_view entries = system_.substr(entries_begin, entries_end - entries_begin);
      const bool all_zero = entries.find_first_not_of('\0') == std::string_view::npos;
      const bool all_fill = entries.find_first_not_of(kDebugFillByte) == std::string_view::npos;
      if (!all_zero && !all_fill)
        return fail("Resource page-info entries contain nonzero loader metadata; relocation is unsupported.");
    }
    graph_.page_info_records.assign(records.begin(), records.end());
    return {};
  }

  void merge_owned_ranges() {
    auto& owned = graph_.owned;
    std::sort(owned.begin(), owned.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    std::vector<ByteRange> merged;
    for (const ByteRange& range : owned) {
      if (range.length == 0) continue;
      if (!merged.empty() && range.offset <= merged.back().offset + merged.back().length) {
        const std::uint64_t end = std::max(merged.back().offset + merged.back().length, range.offset + range.length);
        merged.back().length = end - merged.back().offset;
        continue;
      }
      merged.push_back(range);
    }
    owned = std::move(merged);
  }

  bool intersects_owned(std::uint64_t offset, std::uint64_t length) const {
    const auto& owned = graph_.owned;
    // The first range that ends after offset is the only candidate.
    auto it = std::upper_bound(owned.begin(), owned.end(), offset,
                               [](std::uint64_t value, const ByteRange& r) { return value < r.offset + r.length; });
    return it != owned.end() && it->offset < offset + length;
  }

  // ---- names ----------------------------------------------------------------
  // Reads the NUL-terminated text at start and checks the rules every name obeys.
  Result<std::string_view> read_name_text(std::uint64_t start) {
    const std::string_view reach = system_.substr(std::min<std::uint64_t>(start, system_.size()), kMaxNameBytes + 1);
    const std::size_t nul = reach.find('\0');
    if (start >= system_.size() || nul == std::string_view::npos)
      return fail("Name at " + hex_offset(start) + " is unterminated or exceeds 64 KiB.");
    const std::string_view text = reach.substr(0, nul);
    if (!is_valid_utf8(text)) return fail("Name at " + hex_offset(start) + " is not valid UTF-8.");
    if (has_name_control_character(text)) return fail("Name at " + hex_offset(start) + " contains control characters.");
    return text;
  }

  Result<void> read_pointer_owned_names() {
    for (const auto& [field, role] : name_fields_) {
      const auto start = TRY(pointer(field));
      if (!start) continue;
      if (auto it = names_.find(*start); it != names_.end()) {
        it->second.referrers.push_back(field);
        continue;
      }
      const std::string_view text = TRY(read_name_text(*start));
      if (intersects_owned(*start, text.size() + 1))
        return fail("Name at " + hex_offset(*start) + " overlaps schema-owned metadata.");
      retained_ += text.size();
      if (retained_ > kMaxRetainedNameBytes)
        return fail("Resource names exceed the 64 MiB retained-text limit; overlapping aliases are unsupported.");
      ResourceName name;
      name.start = *start;
      name.text = std::string(text);
      name.end = *start + text.size() + 1;
      name.referrers.push_back(field);
      name.role = role;
      names_.emplace(*start, std::move(name));
    }
    return {};
  }

  Result<void> read_inline_names() {
    for (const auto& [offset, slot] : inline_fields_) {
      const std::uint64_t capacity = slot.capacity;
      if (!fits(offset, capacity)) return fail(schema_outside(offset));
      const std::string_view text = TRY(read_name_text(offset));
      if (text.size() + 1 > capacity) return fail("Inline resource name exceeds its fixed field capacity.");
      if (names_.contains(offset)) return fail("A resource name is ambiguously both inline and pointer-owned.");
      retained_ += text.size();
      if (retained_ > kMaxRetainedNameBytes) return fail("Resource names exceed the 64 MiB retained-text limit.");
      ResourceName name;
      name.start = offset;
      name.text = std::string(text);
      name.end = offset + text.size() + 1;
      name.is_inline = true;
      name.capacity = capacity;
      name.role = slot.role;
      names_.emplace(offset, std::move(name));
    }
    return {};
  }

  void finish() {
    graph_.name_pointer_fields.reserve(name_fields_.size());
    for (const auto& [field, role] : name_fields_) graph_.name_pointer_fields.push_back(field);
    graph_.page_info_fields.assign(page_info_fields_.begin(), page_info_fields_.end());
    for (const auto& [offset, slot] : inline_fields_) graph_.inline_fields.push_back({offset, slot.capacity});
    graph_.names.reserve(names_.size());
    // Pointer-owned names that end at one NUL are tails of the first of them.
    std::map<std::uint64_t, std::uint64_t> outer_by_end;
    for (auto& [start, name] : names_) {
      if (!name.is_inline) {
        const auto [outer, first] = outer_by_end.emplace(name.end, start);
        if (!first) name.outer = outer->second;
      }
      graph_.names.push_back(std::move(name));
    }
  }

  std::string_view system_;
  ResourceLayout layout_;
  ResourceKind kind_ = ResourceKind::None;
  NameGraph graph_;
  std::vector<RecordKey> work_;
  std::set<RecordKey> queued_;
  std::set<RecordKey> visited_;
  std::set<std::uint64_t> drawable_set_;
  std::map<std::uint64_t, NameRole> name_fields_;
  std::set<std::uint64_t> page_info_fields_;
  struct InlineSlot {
    std::uint64_t capacity = 0;
    NameRole role = NameRole::PhysicsGroup;
  };
  std::map<std::uint64_t, InlineSlot> inline_fields_;
  std::map<std::uint64_t, ResourceName> names_;
  std::uint64_t operations_ = 0;
  std::uint64_t claims_ = 0;
  std::uint64_t records_ = 0;
  std::uint64_t retained_ = 0;
};

}  // namespace

std::uint64_t read_u64_le(std::string_view bytes, std::uint64_t offset) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}
std::uint32_t read_u32_le(std::string_view bytes, std::uint64_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}
std::uint16_t read_u16_le(std::string_view bytes, std::uint64_t offset) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                    (static_cast<unsigned char>(bytes[offset + 1]) << 8));
}

std::string_view resource_kind_display_name(ResourceKind kind) {
  switch (kind) {
    case ResourceKind::Yft: return "Fragment";
    case ResourceKind::Ytd: return "TextureDictionary";
    case ResourceKind::Ydr: return "Drawable";
    case ResourceKind::None: break;
  }
  return "Resource";
}

std::string_view name_role_label(NameRole role) {
  switch (role) {
    case NameRole::Fragment: return "fragment name";
    case NameRole::Drawable: return "drawable name";
    case NameRole::Bone: return "bone name";
    case NameRole::Archetype: return "archetype name";
    case NameRole::PhysicsGroup: return "physics group name";
    case NameRole::Cloth: return "cloth name";
    case NameRole::Texture: return "texture name";
  }
  return "name";
}

std::optional<ResourceLayout> layout_for_version(ResourceKind kind, std::uint32_t version) {
  struct Versions {
    ResourceKind kind;
    std::uint32_t legacy;
    std::uint32_t gen9;
  };
  static constexpr Versions kVersions[] = {
      {ResourceKind::Yft, 162, 171}, {ResourceKind::Ytd, 13, 5}, {ResourceKind::Ydr, 165, 159}};
  for (const Versions& row : kVersions) {
    if (row.kind != kind) continue;
    if (version == row.legacy) return ResourceLayout::Legacy;
    if (version == row.gen9) return ResourceLayout::Gen9;
  }
  return std::nullopt;
}

const ResourceName* NameGraph::name_at(std::uint64_t start) const {
  auto it = std::lower_bound(names.begin(), names.end(), start,
                             [](const ResourceName& name, std::uint64_t value) { return name.start < value; });
  return it != names.end() && it->start == start ? &*it : nullptr;
}

bool NameGraph::is_name_pointer_field(std::uint64_t offset) const {
  return std::binary_search(name_pointer_fields.begin(), name_pointer_fields.end(), offset);
}

Result<NameGraph> build_name_graph(const Rsc7Resource& resource, ResourceKind kind, ResourceLayout layout) {
  if (resource.decoded.size() < resource.system_size) return fail(schema_outside(resource.decoded.size()));
  return GraphBuilder(resource, layout).build(kind);
}

}  // namespace tarnwick
