// The RSC7 container: header, page flags, decoded segments, re-assembly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "common/types.h"
#include "resource/resource.h"

namespace tarnwick {

inline constexpr std::uint64_t kRsc7DecodedLimitBytes = 256ull << 20;
inline constexpr std::uint64_t kRsc7HeaderBytes = 16;
inline constexpr std::uint64_t kSystemAddressBase = 0x50000000;

struct Rsc7Resource {
  std::string header;  // the input file's 16 header bytes
  std::uint32_t version = 0;
  std::uint32_t system_flags = 0;
  std::uint32_t graphics_flags = 0;
  std::uint64_t system_size = 0;
  std::uint64_t graphics_size = 0;
  std::uint64_t system_pages = 0;
  std::uint64_t graphics_pages = 0;
  std::string decoded;  // system segment, then graphics segment
  std::uint64_t stream_bytes = 0;    // bytes the DEFLATE stream occupied
  std::string_view trailing;         // opaque bytes after the stream (a view of the input)
};

// Segment size in bytes and page count of one page-flags word.
std::uint64_t page_flags_size(std::uint32_t flags);
std::uint64_t page_flags_count(std::uint32_t flags);

// Decodes the container; file must outlive the result (trailing is a view).
Result<Rsc7Resource> decode_rsc7(std::string_view file);

// Adler-32 (RFC 1950) of bytes.
std::uint32_t adler32(std::string_view bytes);

// What re-assembly does with the bytes after the stream: nothing to do, keep them
// exactly, or (exactly four bytes holding the big-endian Adler-32 of the decoded
// pages) write the Adler-32 of the new pages instead, so the checksum stays true.
enum class TrailerHandling : std::uint8_t { None, Opaque, Adler32 };
TrailerHandling classify_trailer(const Rsc7Resource& resource);

// The preview notice for a trailer that is kept or rewritten (not for None).
Notice trailer_notice(const Rsc7Resource& resource, TrailerHandling handling);

// The new file: the input's header (system flags replaced when given), the new
// decoded pages re-encoded within the 128 MiB file bound, then the trailer.
Result<std::string> assemble_rsc7(const Rsc7Resource& resource, std::string_view new_decoded,
                                  std::optional<std::uint32_t> new_system_flags, TrailerHandling handling);

// What one of the two literal paths made of the decoded pages.
struct ResourceEdit {
  std::string decoded;  // the new decoded buffer
  std::vector<Notice> notices;
  std::string summary;
  std::uint64_t replacements = 0;
  std::optional<std::uint32_t> new_system_flags;  // when the system segment was re-laid out
};

// Fixed-width path for kind none: equal-width replacement over both segments;
// std::nullopt means no change.
Result<std::optional<ResourceEdit>> edit_fixed_width_resource(const Rsc7Resource& resource, std::string_view find,
                                                              const Replacement& replacement, MatchCase match_case,
                                                              EncodingChoice encoding);

// Format-aware path for YFT, YTD and YDR; std::nullopt means no change. Its notices
// end before the trailer: edit_rsc7_resource appends the trailer notice for both paths.
Result<std::optional<ResourceEdit>> edit_named_resource(const Rsc7Resource& resource, std::string_view find,
                                                        const Replacement& replacement, MatchCase match_case,
                                                        EncodingChoice encoding, ResourceKind kind);

}  // namespace tarnwick
