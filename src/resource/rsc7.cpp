// The RSC7 container: header, page flags, decoding of the page stream, and re-assembly after an edit.
#include "resource/rsc7.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "common/memory.h"
#include "common/text.h"
#include "common/utf8.h"
#include "resource/deflate/deflate.h"

namespace tarnwick {
namespace {

constexpr char kMagic[] = "RSC7";
// The whole new file stays within 128 MiB: header, stream and trailing bytes.
constexpr std::uint64_t kMaxOutputFileBytes = 128ull << 20;
constexpr std::uint64_t kAdlerTrailerBytes = 4;
constexpr std::uint32_t kAdlerModulus = 65521;
// The largest run of bytes whose Adler-32 sums cannot overflow 32 bits before reduction.
constexpr std::size_t kAdlerBlockBytes = 5552;

std::uint32_t read_u32_le(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < 4; ++i) value |= std::uint32_t{static_cast<std::uint8_t>(bytes[offset + i])} << (8 * i);
  return value;
}

void write_u32_le(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (unsigned i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Each field counts pages of a fixed multiple of the base page: (first bit, width, multiple).
struct PageField {
  unsigned first_bit;
  unsigned width;
  std::uint64_t multiple;
};
constexpr PageField kPageFields[] = {{4, 1, 256}, {5, 2, 128}, {7, 4, 64}, {11, 6, 32}, {17, 7, 16},
                                     {24, 1, 8},  {25, 1, 4},  {26, 1, 2}, {27, 1, 1}};
constexpr unsigned kBasePageShift = 9;  // the base page is 512 << s bytes

std::uint64_t page_field(std::uint32_t flags, const PageField& field) {
  return (flags >> field.first_bit) & ((1u << field.width) - 1);
}

}  // namespace

std::uint64_t page_flags_size(std::uint32_t flags) {
  std::uint64_t base_pages = 0;
  for (const PageField& field : kPageFields) base_pages += page_field(flags, field) * field.multiple;
  // At most 5,663 base pages of 16 MiB: far below 2^64.
  return base_pages << ((flags & 0xF) + kBasePageShift);
}

std::uint64_t page_flags_count(std::uint32_t flags) {
  std::uint64_t pages = 0;
  for (const PageField& field : kPageFields) pages += page_field(flags, field);
  return pages;
}

ResourceKind resource_kind_for_path(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  // A name that begins with its only full stop (".ytd") has no extension.
  if (dot == std::string_view::npos || dot == 0) return ResourceKind::None;
  std::string extension(name.substr(dot + 1));
  lower_ascii_in_place(extension);
  if (extension == "yft") return ResourceKind::Yft;
  if (extension == "ytd") return ResourceKind::Ytd;
  if (extension == "ydr") return ResourceKind::Ydr;
  return ResourceKind::None;
}

Result<Rsc7Resource> decode_rsc7(std::string_view file) {
  if (file.size() < kRsc7HeaderBytes || file.substr(0, 4) != kMagic) {
    return fail("The RSC7 resource header is missing or truncated.");
  }
  Rsc7Resource resource;
  resource.header = std::string(file.substr(0, kRsc7HeaderBytes));
  resource.version = read_u32_le(file, 4);
  resource.system_flags = read_u32_le(file, 8);
  resource.graphics_flags = read_u32_le(file, 12);
  resource.system_size = page_flags_size(resource.system_flags);
  resource.graphics_size = page_flags_size(resource.graphics_flags);
  resource.system_pages = page_flags_count(resource.system_flags);
  resource.graphics_pages = page_flags_count(resource.graphics_flags);
  constexpr char kRegionMessage[] = "RSC7 decoded page region exceeds the 256 MiB safety limit.";
  if (resource.system_size > kRsc7DecodedLimitBytes) return fail(kRegionMessage);
  if (resource.graphics_size > kRsc7DecodedLimitBytes) return fail(kRegionMessage);
  const std::uint64_t expected = resource.system_size + resource.graphics_size;
  if (expected > kRsc7DecodedLimitBytes) return fail("RSC7 total decoded pages exceed the 256 MiB safety limit.");

  const std::string_view stream = file.substr(kRsc7HeaderBytes);
  Result<Inflated> inflated = inflate_raw(stream, expected);
  if (!inflated.has_value()) return fail("Cannot decode the RSC7 raw DEFLATE stream: " + inflated.error());
  resource.stream_bytes = inflated->bits_consumed / 8 + (inflated->bits_consumed % 8 != 0 ? 1 : 0);
  resource.trailing = stream.substr(resource.stream_bytes);
  resource.decoded = std::move(inflated->bytes);
  if (resource.decoded.size() != expected) {
    return fail("RSC7 page flags describe " + std::to_string(expected) + " decoded bytes, but the stream contains " +
                std::to_string(resource.decoded.size()) + ". No content was changed.");
  }
  return resource;
}

std::uint32_t adler32(std::string_view bytes) {
  std::uint32_t low = 1;
  std::uint32_t high = 0;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t remaining = bytes.size();
  while (remaining > 0) {
    const std::size_t block = std::min(remaining, kAdlerBlockBytes);
    for (std::size_t i = 0; i < block; ++i) {
      low += data[i];
      high += low;
    }
    low %= kAdlerModulus;
    high %= kAdlerModulus;
    data += block;
    remaining -= block;
  }
  return high << 16 | low;
}

TrailerHandling classify_trailer(const Rsc7Resource& resource) {
  if (resource.trailing.empty()) return TrailerHandling::None;
  if (resource.trailing.size() == kAdlerTrailerBytes) {
    const std::uint32_t stored = std::uint32_t{static_cast<std::uint8_t>(resource.trailing[0])} << 24 |
                                 std::uint32_t{static_cast<std::uint8_t>(resource.trailing[1])} << 16 |
                                 std::uint32_t{static_cast<std::uint8_t>(resource.trailing[2])} << 8 |
                                 std::uint32_t{static_cast<std::uint8_t>(resource.trailing[3])};
    if (stored == adler32(resource.decoded)) return TrailerHandling::Adler32;
  }
  return TrailerHandling::Opaque;
}

Notice trailer_notice(const Rsc7Resource& resource, TrailerHandling handling) {
  if (handling == TrailerHandling::Adler32) {
    return "Rewrote the 4-byte Adler-32 checksum after the RSC7 DEFLATE stream for the new decoded pages. "
           "Its file offset may move after recompression.";
  }
  return "Preserved " + std::to_string(resource.trailing.size()) +
         " opaque trailing bytes after the RSC7 DEFLATE stream exactly. They are not searched or rewritten; their "
         "file offset may move after recompression.";
}

Result<std::string> assemble_rsc7(const Rsc7Resource& resource, std::string_view new_decoded,
                                  std::optional<std::uint32_t> new_system_flags, TrailerHandling handling) {
  const std::uint64_t fixed_bytes = saturating_add(kRsc7HeaderBytes, resource.trailing.size());
  const std::uint64_t stream_limit = fixed_bytes >= kMaxOutputFileBytes ? 0 : kMaxOutputFileBytes - fixed_bytes;
  const std::string stream = TRY(deflate_bounded(new_decoded, stream_limit));
  std::string file;
  if (!reserve_large(file, kRsc7HeaderBytes + stream.size() + resource.trailing.size())) {
    return fail("Cannot reserve memory for the re-assembled RSC7 resource.");
  }
  file += resource.header;
  if (new_system_flags.has_value()) write_u32_le(file, 8, *new_system_flags);
  file += stream;
  if (handling == TrailerHandling::Adler32) {
    const std::uint32_t checksum = adler32(new_decoded);
    for (int shift = 24; shift >= 0; shift -= 8) file += static_cast<char>((checksum >> shift) & 0xFF);
  } else {
    file += resource.trailing;
  }
  return file;
}

}  // namespace tarnwick
