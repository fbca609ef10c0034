// Build-time tool: writes the program's icon as PNG files for the desktop's
// icon theme, drawn by the same code as the window icon, so the icon has one
// source. Usage: tarnwick_write_icons FOLDER NAME SIZE...
// writes FOLDER/hicolor/{SIZE}x{SIZE}/apps/NAME.png for every SIZE.
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "native_linux/ui/pictures.h"
#include "resource/deflate/deflate.h"
#include "resource/rsc7.h"

namespace {

constexpr int kMaxSize = 1024;

// CRC-32 of PNG chunks (ISO 3309, reflected polynomial 0xEDB88320).
std::uint32_t crc32(std::string_view bytes) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> entries{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[n] = c;
    }
    return entries;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (const char byte : bytes) c = table[(c ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void put_u32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

// Length, type, data, then the CRC of type and data.
void put_chunk(std::string& out, std::string_view type, std::string_view data) {
  put_u32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typed_from = out.size();
  out.append(type).append(data);
  put_u32(out, crc32(std::string_view(out).substr(typed_from)));
}

// An 8-bit R, G, B, A image; every row with filter 0 (none), the rows in one
// zlib stream: header 78 01, raw DEFLATE, the Adler-32 of the rows.
std::optional<std::string> encode_png(const std::vector<std::uint8_t>& rgba, int size) {
  const std::size_t row_bytes = static_cast<std::size_t>(size) * 4;
  std::string rows;
  rows.reserve((row_bytes + 1) * size);
  for (int y = 0; y < size; ++y) {
    rows.push_back('\0');
    rows.append(reinterpret_cast<const char*>(rgba.data()) + y * row_bytes, row_bytes);
  }
  // Stored blocks cost 5 bytes in 65,535, so this bound is never reached.
  const auto deflated = tarnwick::deflate_bounded(rows, rows.size() + rows.size() / 8 + 1024);
  if (!deflated) return std::nullopt;
  std::string header;
  put_u32(header, static_cast<std::uint32_t>(size));
  put_u32(header, static_cast<std::uint32_t>(size));
  header.append({'\x08', '\x06', '\0', '\0', '\0'});  // depth 8, R G B A, deflate, filter set 0, no interlace
  std::string stream = "\x78\x01";
  stream.append(*deflated);
  put_u32(stream, tarnwick::adler32(rows));
  std::string png = "\x89PNG\r\n\x1a\n";
  put_chunk(png, "IHDR", header);
  put_chunk(png, "IDAT", stream);
  put_chunk(png, "IEND", {});
  return png;
}

std::optional<int> parse_size(std::string_view text) {
  int size = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (error != std::errc() || end != text.data() + text.size() || size < 1 || size > kMaxSize) return std::nullopt;
  return size;
}

bool write_icon(const std::filesystem::path& folder, std::string_view name, int size) {
  const std::string side = std::to_string(size);
  const std::filesystem::path directory = folder / "hicolor" / (side + "x" + side) / "apps";
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  const std::optional<std::string> png = encode_png(tarnwick::icon_rgba(size), size);
  if (error || !png) return false;
  std::ofstream file(directory / (std::string(name) + ".png"), std::ios::binary | std::ios::trunc);
  file.write(png->data(), static_cast<std::streamsize>(png->size()));
  file.close();
  return !file.fail();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("Usage: tarnwick_write_icons FOLDER NAME SIZE...\n", stderr);
    return 2;
  }
  for (int i = 3; i < argc; ++i) {
    const std::optional<int> size = parse_size(argv[i]);
    if (!size) {
      std::fprintf(stderr, "tarnwick_write_icons: not a size from 1 to %d: %s\n", kMaxSize, argv[i]);
      return 2;
    }
    if (!write_icon(argv[1], argv[2], *size)) {
      std::fprintf(stderr, "tarnwick_write_icons: cannot write the %d pixel icon into %s\n", *size, argv[1]);
      return 1;
    }
  }
  return 0;
}
