// Builds RSC7 files for container tests: header fields, a raw DEFLATE stream, trailing bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "resource/deflate/zlib_oracle.h"

namespace tarnwick::testing {

// Page flags of one page of 16 x base = 8,192 << shift bytes.
constexpr std::uint32_t one_page_flags(unsigned shift) { return 0x20000u | shift; }

inline std::string u32_le(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

inline std::string rsc7_header(std::uint32_t version, std::uint32_t system_flags, std::uint32_t graphics_flags) {
  return "RSC7" + u32_le(version) + u32_le(system_flags) + u32_le(graphics_flags);
}

// A file whose stream zlib made from `decoded`.
inline std::string rsc7_file(std::uint32_t system_flags, std::uint32_t graphics_flags, std::string_view decoded,
                             std::string_view trailing = {}, std::uint32_t version = 165) {
  return rsc7_header(version, system_flags, graphics_flags) + zlib_deflate_raw(decoded, 6) + std::string(trailing);
}

// The big-endian Adler-32 that some tools append after the stream.
inline std::string adler_trailer(std::string_view decoded) {
  const auto value = ::adler32(::adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(decoded.data()),
                             static_cast<uInt>(decoded.size()));
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
  return bytes;
}

// Decoded pages of the given sizes: varied filler with `literal` written at the given offsets.
inline std::string pages_with(std::size_t size, std::string_view literal, std::initializer_list<std::size_t> offsets) {
  std::string pages = make_data(DataShape::Repetitive, size, 3);
  for (const std::size_t offset : offsets) pages.replace(offset, literal.size(), literal);
  return pages;
}

}  // namespace tarnwick::testing
