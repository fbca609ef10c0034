// Synthetic YTD, YDR and YFT resources laid out field by field, and the zlib
// helpers the round-trip tests use as an independent decoder.
#include "support_rsc7_builder.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <numeric>
#include <stdexcept>

namespace tarnwick::testing {

std::uint32_t reference_name_hash(std::string_view name) {
  std::uint32_t h = 0;
  for (char c : name) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    h = h + b;
    h = h + (h << 10);
    h = h ^ (h >> 6);
  }
  h = h + (h << 3);
  h = h ^ (h >> 11);
  h = h + (h << 15);
  return h;
}

SystemImage::SystemImage(std::uint64_t root_bytes) { allocate(root_bytes); }

std::uint64_t SystemImage::allocate(std::uint64_t size) {
  const std::uint64_t offset = (bytes.size() + 15) / 16 * 16;
  bytes.resize(offset + size, '\0');
  return offset;
}

void SystemImage::u8(std::uint64_t offset, std::uint8_t value) { bytes.at(offset) = static_cast<char>(value); }
void SystemImage::u16(std::uint64_t offset, std::uint16_t value) {
  for (int i = 0; i < 2; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}
void SystemImage::u32(std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}
void SystemImage::u64(std::uint64_t offset, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}

void SystemImage::put_text(std::uint64_t offset, std::string_view text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  bytes.at(offset + text.size()) = '\0';
}

std::uint64_t SystemImage::add_name(std::string_view text) {
  const std::uint64_t at = allocate(text.size() + 1);
  put_text(at, text);
  return at;
}

std::uint64_t SystemImage::add_page_info(std::uint8_t system_pages, std::uint8_t graphics_pages, std::uint8_t fill) {
  const std::uint64_t at = allocate(16 + 8ull * (system_pages + graphics_pages));
  u8(at + 8, system_pages);
  u8(at + 9, graphics_pages);
  std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at + 16), bytes.end(), static_cast<char>(fill));
  return at;
}

namespace {

std::uint64_t add_texture(SystemImage& image, std::uint64_t bytes, std::string_view name, std::uint64_t* name_at) {
  const std::uint64_t texture = image.allocate(bytes);
  *name_at = image.add_name(name);
  image.pointer(texture + 40, *name_at);
  return texture;
}

}  // namespace

DictionaryAt fill_texture_dictionary(SystemImage& image, std::uint64_t at, ResourceLayout layout,
                                     const std::vector<std::string>& names) {
  DictionaryAt out;
  out.dictionary = at;
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return reference_name_hash(a) < reference_name_hash(b);
  });
  const auto count = static_cast<std::uint16_t>(sorted.size());
  out.hashes = image.allocate(std::max<std::uint64_t>(4ull * count, 16));
  out.pointers = image.allocate(std::max<std::uint64_t>(8ull * count, 16));
  image.pointer(at + 32, out.hashes);
  image.u16(at + 40, count);
  image.u16(at + 42, count);
  image.pointer(at + 48, out.pointers);
  image.u16(at + 56, count);
  image.u16(at + 58, count);
  const std::uint64_t texture_bytes = layout == ResourceLayout::Legacy ? 144 : 80;
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint64_t name = 0;
    const std::uint64_t texture = add_texture(image, texture_bytes, sorted[i], &name);
    image.u32(out.hashes + 4ull * i, reference_name_hash(sorted[i]));
    image.pointer(out.pointers + 8ull * i, texture);
    out.textures.push_back(texture);
    out.names.push_back(name);
    out.texts.push_back(sorted[i]);
  }
  return out;
}

DrawableContentsAt fill_drawable_contents(SystemImage& image, std::uint64_t drawable, ResourceLayout layout,
                                          const std::vector<std::string>& texture_names) {
  DrawableContentsAt out;
  out.shader_group = image.allocate(64);
  image.pointer(drawable + 16, out.shader_group);
  if (texture_names.empty()) return out;
  const auto count = static_cast<std::uint8_t>(texture_names.size());
  const std::uint64_t array = image.allocate(8);
  image.pointer(out.shader_group + 16, array);
  image.u16(out.shader_group + 24, 1);
  image.u16(out.shader_group + 26, 1);
  if (layout == ResourceLayout::Legacy) {
    out.shader = image.allocate(48);
    out.parameters = image.allocate(16ull * count);
    image.pointer(out.shader, out.parameters);
    image.u8(out.shader + 16, count);
  } else {
    out.shader = image.allocate(64);
    out.parameters = image.allocate(8ull * count + 8);
    out.table = image.allocate(8ull * count);
    image.pointer(out.shader + 16, out.table);
    image.pointer(out.shader + 32, out.parameters);
    image.u8(out.parameters + 1, count);
    image.u8(out.parameters + 4, count);
    image.u8(out.parameters + 7, 1);
  }
  image.pointer(array, out.shader);
  for (std::uint8_t i = 0; i < count; ++i) {
    std::uint64_t name = 0;
    const std::uint64_t texture = add_texture(image, 80, texture_names[i], &name);
    if (layout == ResourceLayout::Legacy) {
      image.pointer(out.parameters + 16ull * i + 8, texture);
    } else {
      image.u32(out.parameters + 12 + 8ull * i, static_cast<std::uint32_t>(i) << 2);
      image.pointer(out.table + 8ull * i, texture);
    }
    out.textures.push_back(texture);
    out.texture_names.push_back(name);
  }
  return out;
}

SkeletonAt add_skeleton(SystemImage& image, const std::vector<std::string>& bone_names) {
  SkeletonAt out;
  out.skeleton = image.allocate(112);
  const auto count = static_cast<std::uint16_t>(bone_names.size());
  image.u16(out.skeleton + 94, count);
  if (count == 0) return out;
  const std::uint64_t header = image.allocate(16 + 80ull * count);
  image.u32(header, count);
  out.bones = header + 16;
  image.pointer(out.skeleton + 32, out.bones);
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::uint64_t name = image.add_name(bone_names[i]);
    image.pointer(out.bones + 80ull * i + 56, name);
    out.names.push_back(name);
  }
  return out;
}

YdrAt build_ydr(SystemImage& image, ResourceLayout layout, std::string_view name,
                const std::vector<std::string>& bones, const std::vector<std::string>& textures) {
  YdrAt out;
  out.page_info = image.add_page_info(1, 0);
  image.pointer(8, out.page_info);
  out.name = image.add_name(name);
  image.pointer(168, out.name);
  out.skeleton = add_skeleton(image, bones);
  image.pointer(24, out.skeleton.skeleton);
  out.contents = fill_drawable_contents(image, 0, layout, textures);
  return out;
}

YftAt build_yft(SystemImage& image, ResourceLayout layout, std::string_view name, std::string_view drawable_name,
                const std::vector<std::string>& group_names, const std::vector<std::string>& textures) {
  YftAt out;
  out.page_info = image.add_page_info(1, 0);
  image.pointer(8, out.page_info);
  out.name = image.add_name(name);
  image.pointer(88, out.name);
  out.drawable = image.allocate(336);
  image.pointer(48, out.drawable);
  out.drawable_name = image.add_name(drawable_name);
  image.pointer(out.drawable + 304, out.drawable_name);
  out.contents = fill_drawable_contents(image, out.drawable, layout, textures);

  const std::uint64_t lod_group = image.allocate(48);
  image.pointer(240, lod_group);
  out.lod = image.allocate(304);
  image.pointer(lod_group + 16, out.lod);
  const auto groups = static_cast<std::uint8_t>(group_names.size());
  image.u8(out.lod + 282, groups);
  out.group_name_array = image.allocate(8ull * groups + 8);
  image.pointer(out.lod + 192, out.group_name_array);
  const std::uint64_t group_array = image.allocate(std::max<std::uint64_t>(8ull * groups, 8));
  image.pointer(out.lod + 200, group_array);
  // Legacy group records are 128 bytes, back to back, and name nothing; Gen9
  // records carry the name inline at +128, where the group-name array points.
  const std::uint64_t group_bytes = layout == ResourceLayout::Legacy ? 128 : 176;
  const std::uint64_t first_group = image.allocate(group_bytes * groups);
  for (std::uint8_t i = 0; i < groups; ++i) {
    const std::uint64_t group = first_group + group_bytes * i;
    const std::uint64_t field = layout == ResourceLayout::Legacy ? image.allocate(40) : group + 128;
    image.put_text(field, group_names[i]);
    image.pointer(out.group_name_array + 8ull * i, field);
    image.pointer(group_array + 8ull * i, group);
    out.groups.push_back(group);
    out.group_names.push_back(field);
  }
  const std::uint64_t children = image.allocate(8);
  image.pointer(out.lod + 208, children);
  image.u8(out.lod + 285, 1);
  out.child = image.allocate(256);
  image.pointer(children, out.child);
  image.pointer(out.child + 160, out.drawable);
  out.archetype = image.allocate(224);
  image.pointer(out.lod + 216, out.archetype);
  out.archetype_name = image.add_name(name);
  image.pointer(out.archetype + 24, out.archetype_name);

  const std::uint64_t cloth_array = image.allocate(8);
  image.pointer(96, cloth_array);
  image.u16(104, 1);
  image.u16(106, 1);
  out.cloth = image.allocate(128);
  image.pointer(cloth_array, out.cloth);
  image.pointer(out.cloth + 24, out.drawable);
  out.cloth_child = image.allocate(128);
  image.pointer(out.cloth + 40, out.cloth_child);
  image.put_text(out.cloth_child + 88, "cloth_a");
  return out;
}

YtdAt build_ytd(SystemImage& image, ResourceLayout layout, const std::vector<std::string>& names) {
  YtdAt out;
  out.page_info = image.add_page_info(1, 0);
  image.pointer(8, out.page_info);
  out.dictionary = fill_texture_dictionary(image, 0, layout, names);
  return out;
}

std::uint32_t single_page_flags(std::uint64_t bytes) {
  const std::uint64_t size = std::max<std::uint64_t>(8192, std::bit_ceil(bytes));
  return 0x00020000u | static_cast<std::uint32_t>(std::countr_zero(size) - 13);
}

std::uint64_t reference_flags_size(std::uint32_t flags) {
  const std::uint64_t base = 512ull << (flags & 0xF);
  const std::uint64_t units = 256ull * ((flags >> 4) & 1) + 128ull * ((flags >> 5) & 3) + 64ull * ((flags >> 7) & 15) +
                              32ull * ((flags >> 11) & 63) + 16ull * ((flags >> 17) & 127) + 8ull * ((flags >> 24) & 1) +
                              4ull * ((flags >> 25) & 1) + 2ull * ((flags >> 26) & 1) + ((flags >> 27) & 1);
  return units * base;
}

std::uint64_t reference_flags_count(std::uint32_t flags) {
  return ((flags >> 4) & 1) + ((flags >> 5) & 3) + ((flags >> 7) & 15) + ((flags >> 11) & 63) +
         ((flags >> 17) & 127) + ((flags >> 24) & 1) + ((flags >> 25) & 1) + ((flags >> 26) & 1) + ((flags >> 27) & 1);
}

std::uint32_t version_for(ResourceKind kind, ResourceLayout layout) {
  const bool legacy = layout == ResourceLayout::Legacy;
  switch (kind) {
    case ResourceKind::Yft: return legacy ? 162 : 171;
    case ResourceKind::Ytd: return legacy ? 13 : 5;
    case ResourceKind::Ydr: return legacy ? 165 : 159;
    case ResourceKind::None: break;
  }
  return 0;
}

namespace {
std::string le32_bytes(std::uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(value >> (8 * i));
  return out;
}
}  // namespace

Rsc7Resource make_resource(const SystemImage& image, ResourceKind kind, ResourceLayout layout,
                           std::uint32_t graphics_flags, std::uint32_t system_top_bits) {
  Rsc7Resource resource;
  resource.version = version_for(kind, layout);
  resource.system_flags = single_page_flags(image.bytes.size()) | system_top_bits;
  resource.graphics_flags = graphics_flags;
  resource.system_size = reference_flags_size(resource.system_flags);
  resource.graphics_size = reference_flags_size(graphics_flags);
  resource.system_pages = reference_flags_count(resource.system_flags);
  resource.graphics_pages = reference_flags_count(graphics_flags);
  resource.header = "RSC7" + le32_bytes(resource.version) + le32_bytes(resource.system_flags) +
                    le32_bytes(graphics_flags);
  resource.decoded = image.bytes;
  resource.decoded.resize(resource.system_size + resource.graphics_size, '\0');
  // Graphics bytes that are not all zero, so a shifted copy is noticed.
  for (std::uint64_t i = 0; i < resource.graphics_size; ++i)
    resource.decoded[resource.system_size + i] = static_cast<char>(i * 7 + 1);
  return resource;
}

std::string make_file(const Rsc7Resource& resource) {
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  std::string out(deflateBound(&stream, resource.decoded.size()) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(resource.decoded.data()));
  stream.avail_in = static_cast<uInt>(resource.decoded.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&stream, Z_FINISH);
  deflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(stream.total_out);
  return resource.header + out;
}

InflatedFile inflate_file(std::string_view file) {
  InflatedFile out;
  if (file.size() < 16) throw std::runtime_error("short file");
  out.version = le32_at(file, 4);
  out.system_flags = le32_at(file, 8);
  out.graphics_flags = le32_at(file, 12);
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) throw std::runtime_error("inflate");
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + 16));
  stream.avail_in = static_cast<uInt>(file.size() - 16);
  char chunk[65536];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    status = inflate(&stream, Z_NO_FLUSH);
    out.decoded.append(chunk, sizeof chunk - stream.avail_out);
  }
  const auto consumed = stream.total_in;
  inflateEnd(&stream);
  if (status != Z_STREAM_END) throw std::runtime_error("inflate failed");
  out.trailing = std::string(file.substr(16 + consumed));
  return out;
}

Rsc7Resource resource_from_file(std::string_view file) {
  const InflatedFile inflated = inflate_file(file);
  Rsc7Resource resource;
  resource.header = std::string(file.substr(0, 16));
  resource.version = inflated.version;
  resource.system_flags = inflated.system_flags;
  resource.graphics_flags = inflated.graphics_flags;
  resource.system_size = reference_flags_size(inflated.system_flags);
  resource.graphics_size = reference_flags_size(inflated.graphics_flags);
  resource.system_pages = reference_flags_count(inflated.system_flags);
  resource.graphics_pages = reference_flags_count(inflated.graphics_flags);
  resource.decoded = inflated.decoded;
  resource.stream_bytes = file.size() - 16 - inflated.trailing.size();
  resource.trailing = file.substr(file.size() - inflated.trailing.size());
  return resource;
}

std::uint64_t le64_at(std::string_view bytes, std::uint64_t offset) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
  return value;
}
std::uint32_t le32_at(std::string_view bytes, std::uint64_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
  return value;
}
std::string c_string_at(std::string_view bytes, std::uint64_t offset) {
  const std::size_t end = bytes.find('\0', offset);
  return std::string(bytes.substr(offset, end == std::string_view::npos ? std::string_view::npos : end - offset));
}

}  // namespace tarnwick::testing
