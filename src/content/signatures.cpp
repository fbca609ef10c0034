// Recognising archives, compressed streams and binary formats by their first bytes.
#include <array>

#include "content/classify.h"

namespace tarnwick {

namespace {

using namespace std::string_view_literals;

bool starts_with_any(std::string_view bytes, std::initializer_list<std::string_view> prefixes) {
  for (const std::string_view prefix : prefixes)
    if (bytes.starts_with(prefix)) return true;
  return false;
}

bool is_zstandard(std::string_view bytes) {
  if (bytes.size() < 4) return false;
  if (bytes.starts_with("\x28\xB5\x2F\xFD"sv)) return true;
  // Skippable frames: a first byte of 50 to 5F, then the fixed 2A 4D 18.
  const auto first = static_cast<unsigned char>(bytes[0]);
  return first >= 0x50 && first <= 0x5F && bytes.substr(1, 3) == "\x2A\x4D\x18"sv;
}

bool is_tar(std::string_view bytes) {
  constexpr std::size_t kUstarOffset = 257;
  return bytes.size() >= kUstarOffset + 5 && bytes.substr(kUstarOffset, 5) == "ustar"sv;
}

bool has_zlib_header(std::string_view bytes) {
  if (bytes.size() < 2) return false;
  const auto first = static_cast<unsigned char>(bytes[0]);
  const auto second = static_cast<unsigned char>(bytes[1]);
  return (first & 0x8F) == 0x08 && (first * 256u + second) % 31 == 0;
}

struct ArchiveRow {
  std::string_view label;
  bool (*matches)(std::string_view bytes);
};

// In order: the first row that matches decides. Rows that need more bytes than
// the data has simply do not match.
const std::array<ArchiveRow, 12> kArchiveRows{{
    {"ZIP archive",
     [](std::string_view b) { return starts_with_any(b, {"PK\x03\x04"sv, "PK\x05\x06"sv, "PK\x07\x08"sv}); }},
    {"7z archive", [](std::string_view b) { return b.starts_with("\x37\x7A\xBC\xAF\x27\x1C"sv); }},
    {"RAR archive", [](std::string_view b) { return b.starts_with("\x52\x61\x72\x21\x1A\x07"sv); }},
    {"gzip stream", [](std::string_view b) { return b.starts_with("\x1F\x8B"sv); }},
    {"Zstandard stream", is_zstandard},
    {"bzip2 stream", [](std::string_view b) { return b.starts_with("BZh"sv); }},
    {"XZ stream", [](std::string_view b) { return b.starts_with("\xFD\x37\x7A\x58\x5A\x00"sv); }},
    {"LZ4 frame", [](std::string_view b) { return b.starts_with("\x04\x22\x4D\x18"sv); }},
    {"LZO stream", [](std::string_view b) { return b.starts_with("\x89\x4C\x5A\x4F"sv); }},
    {"TAR archive", is_tar},
    {"GTA RPF archive", [](std::string_view b) { return starts_with_any(b, {"RPF7"sv, "7FPR"sv}); }},
    // Twenty-one printable two-letter prefixes pass the header check alone
    // ("x = 5", "(require ..."), so the stream behind it must really inflate.
    {"zlib stream", [](std::string_view b) { return has_zlib_header(b) && is_zlib_stream(b); }},
}};

}  // namespace

std::optional<SignatureMatch> match_archive_signature(std::string_view bytes) {
  if (bytes.starts_with("RSC7"sv)) return SignatureMatch{SignatureKind::GameResource, {}};
  for (const ArchiveRow& row : kArchiveRows)
    if (row.matches(bytes)) return SignatureMatch{SignatureKind::Archive, row.label};
  return std::nullopt;
}

bool has_binary_signature(std::string_view bytes) {
  return starts_with_any(bytes, {"%PDF-"sv, "%!PS"sv, "PK\x03\x04"sv, "MZ"sv, "\x7F" "ELF"sv, "\x89PNG"sv,
                                 "GIF87a"sv, "GIF89a"sv, "\xFF\xD8\xFF"sv});
}

}  // namespace tarnwick
