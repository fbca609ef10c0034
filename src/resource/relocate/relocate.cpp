// Rewrites renamed YFT/YTD/YDR names, redirects their references, rebuilds
// texture-dictionary hashes and re-lays out the system segment.
#include "resource/relocate/relocate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "common/memory.h"
#include "common/text.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kNameAlignment = 16;
constexpr std::uint64_t kPointerBytes = 8;
constexpr std::uint64_t kTextureNameField = 40;
constexpr std::uint64_t kPageInfoSystemCount = 8;
constexpr std::uint32_t kKeptFlagBits = 0xF0000000;
constexpr std::uint32_t kOneSixteenBasePage = 0x00020000;  // bit 17: one page of 16 × base
constexpr unsigned kMinPageShift = 13;                     // 16 × (512 << 0) = 8192 = 2^13

std::uint64_t align_up(std::uint64_t value) { return (value + kNameAlignment - 1) / kNameAlignment * kNameAlignment; }

unsigned char fold(unsigned char byte) { return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte; }

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string le64(std::uint64_t value) {
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}
std::string le32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// Leftmost, non-overlapping search with a prefix function, so a hostile
// buffer costs linear time.
class LiteralSearch {
 public:
  LiteralSearch(std::string_view pattern, MatchCase match_case)
      : pattern_(pattern), fold_(match_case == MatchCase::Ignore), border_(pattern.size(), 0) {
    for (std::size_t i = 1, k = 0; i < pattern_.size(); ++i) {
      while (k > 0 && !same(pattern_[i], pattern_[k])) k = border_[k - 1];
      if (same(pattern_[i], pattern_[k])) ++k;
      border_[i] = k;
    }
  }

  // Calls on_match(offset) for each match until it returns false.
  template <class OnMatch>
  void run(std::string_view data, OnMatch on_match) const {
    if (pattern_.empty()) return;
    FirstByteScan first(data, static_cast<unsigned char>(pattern_[0]), fold_);
    for (std::size_t i = 0, k = 0; i < data.size(); ++i) {
      // With no partial match alive, bytes that cannot start one change nothing.
      if (k == 0 && (i = first.next(i)) == data.size()) return;
      while (k > 0 && !same(data[i], pattern_[k])) k = border_[k - 1];
      if (same(data[i], pattern_[k])) ++k;
      if (k == pattern_.size()) {
        if (!on_match(i + 1 - k)) return;
        k = 0;  // restart behind the match: no overlaps
      }
    }
  }

 private:
  // Finds the bytes that can start a match with memchr; when case is ignored,
  // the next place of each case is kept, so every byte is looked at once.
  class FirstByteScan {
   public:
    FirstByteScan(std::string_view data, unsigned char first, bool fold) : data_(data) {
      const unsigned char lower = fold ? ::tarnwick::fold(first) : first;
      const unsigned char upper = lower >= 'a' && lower <= 'z' && fold ? lower - ('a' - 'A') : lower;
      bytes_[0] = lower;
      bytes_[1] = upper;
      cases_ = lower == upper ? 1 : 2;
    }

    // The first offset at or after from holding a possible first byte, or the size.
    std::size_t next(std::size_t from) {
      std::size_t nearest = data_.size();
      for (int c = 0; c < cases_; ++c) {
        if (!searched_[c] || next_[c] < from) {
          searched_[c] = true;
          const void* hit = std::memchr(data_.data() + from, bytes_[c], data_.size() - from);
          next_[c] = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data_.data()) : data_.size();
        }
        nearest = std::min(nearest, next_[c]);
      }
      return nearest;
    }

   private:
    std::string_view data_;
    unsigned char bytes_[2] = {};
    int cases_ = 1;
    std::size_t next_[2] = {0, 0};
    bool searched_[2] = {false, false};
  };

  bool same(char a, char b) const {
    if (!fold_) return a == b;
    return fold(static_cast<unsigned char>(a)) == fold(static_cast<unsigned char>(b));
  }

  std::string_view pattern_;
  bool fold_;
  std::vector<std::size_t> border_;
};

// Every byte written in this pass is remembered, so two schema writes that
// disagree about one byte refuse instead of silently overwriting each other.
class TrackedBuffer {
 public:
  explicit TrackedBuffer(std::string& bytes) : bytes_(bytes), written_(bytes.size(), false) {}

  Result<void> write(std::uint64_t offset, std::string_view data) {
    for (std::size_t i = 0; i < data.size(); ++i) {
      const std::uint64_t at = offset + i;
      if (written_[at] && bytes_[at] != data[i])
        return fail("Conflicting schema writes at decoded offset " + hex_offset(at) +
                    "; overlapping resource metadata is unsupported.");
      bytes_[at] = data[i];
      written_[at] = true;
    }
    return {};
  }

  void grow(std::uint64_t size) {
    bytes_.resize(size, '\0');
    written_.resize(size, false);
  }

  std::uint64_t size() const { return bytes_.size(); }

 private:
  std::string& bytes_;
  std::vector<bool> written_;
};

Result<void> refuse_overlap(const ResourceName& first, const ResourceName& second) {
  return fail("Overlapping/interior name aliases at " + hex_offset(first.start) + " and " + hex_offset(second.start) +
              " require an unsupported layout.");
}

// A tail keeps pointing into its outer string when the outer string's new
// text is the unchanged prefix followed by the tail's new text.
bool tail_follows_its_outer(const ResourceName& tail, const ResourceName& outer) {
  const std::string_view prefix = std::string_view(outer.text).substr(0, tail.start - outer.start);
  const std::string& outer_text = outer.final_text();
  return outer_text.size() == prefix.size() + tail.final_text().size() && outer_text.starts_with(prefix) &&
         outer_text.ends_with(tail.final_text());
}

Result<void> check_overlapping_aliases(const NameGraph& graph) {
  // Extents of earlier names that reach furthest: any earlier name, and any
  // earlier changed name. Names sharing bytes with a changed name are refused,
  // except a tail of a pointer-owned string that changes along with it.
  const ResourceName* furthest = nullptr;
  const ResourceName* furthest_changed = nullptr;
  for (const ResourceName& name : graph.names) {
    if (name.outer) {
      const ResourceName& outer = *graph.name_at(*name.outer);
      if ((name.changed() || outer.changed()) && !tail_follows_its_outer(name, outer))
        return refuse_overlap(outer, name);
      continue;
    }
    const ResourceName* clash = nullptr;
    if (furthest_changed && name.start < furthest_changed->extent_end()) clash = furthest_changed;
    if (!clash && name.changed() && furthest && name.start < furthest->extent_end()) clash = furthest;
    if (clash) return refuse_overlap(*clash, name);
    if (!furthest || name.extent_end() > furthest->extent_end()) furthest = &name;
    if (name.changed() && (!furthest_changed || name.extent_end() > furthest_changed->extent_end()))
      furthest_changed = &name;
  }
  return {};
}

// Calls visit(p) for every byte offset p (up to the size - 8) whose eight
// bytes could be a system pointer: bytes p+4 to p+7 are zero and byte p+3 has
// the high nibble 5. The eight bytes from p+3 answer for p to p+3 at once:
// per-byte flags (the high bit of each byte) say which are zero and which
// have the nibble, so most of them are passed over whole.
template <class Visit>
Result<void> visit_system_pointer_candidates(std::string_view decoded, Visit visit) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr std::uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ull;
  constexpr std::uint64_t kNibbleFive = 0x5050505050505050ull;
  // The high bit of each byte that is zero, exactly (no borrow between bytes).
  const auto zero_bytes = [](std::uint64_t v) { return ~(((v & kLow7) + kLow7) | v | kLow7); };
  if (decoded.size() < 8) return {};
  const std::uint64_t last = decoded.size() - 8;
  std::uint64_t p = 0;
  for (; p + 11 <= decoded.size(); p += 4) {
    std::uint64_t word;  // byte k of the word is byte p + 3 + k
    std::memcpy(&word, decoded.data() + p + 3, 8);
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    const std::uint64_t nibble = zero_bytes((word & kHighNibbles) ^ kNibbleFive);
    const std::uint64_t zero = zero_bytes(word);
    // Byte k (0 to 3) has the nibble and bytes k+1 to k+4 are zero.
    std::uint64_t hits = nibble & (zero >> 8) & (zero >> 16) & (zero >> 24) & (zero >> 32) & 0x80808080ull;
    for (; hits != 0; hits &= hits - 1) TRY(visit(p + static_cast<std::uint64_t>(std::countr_zero(hits)) / 8));
  }
  const auto* data = reinterpret_cast<const unsigned char*>(decoded.data());
  for (; p <= last; ++p) {
    if ((data[p + 3] >> 4) == 5 && data[p + 4] == 0 && data[p + 5] == 0 && data[p + 6] == 0 && data[p + 7] == 0)
      TRY(visit(p));
  }
  return {};
}

Result<void> check_hidden_references(std::string_view decoded, std::uint64_t system_size, const NameGraph& graph) {
  // Tails lie inside their outer strings; a reference to a tail's start is
  // checked against the outer string it moves with.
  std::vector<const ResourceName*> changed;
  for (const ResourceName& name : graph.names)
    if (name.changed() && !name.outer) changed.push_back(&name);
  if (changed.empty()) return {};
  return visit_system_pointer_candidates(decoded, [&](std::uint64_t p) -> Result<void> {
    const std::uint64_t target = read_u32_le(decoded, p) - kSystemAddressBase;
    if (target >= system_size) return {};
    // Changed names do not overlap (checked before), so the candidate is the
    // last changed name starting at or before the target.
    auto it = std::upper_bound(changed.begin(), changed.end(), target,
                               [](std::uint64_t value, const ResourceName* name) { return value < name->start; });
    if (it == changed.begin()) return {};
    const ResourceName& name = **(it - 1);
    if (target >= name.extent_end()) return {};
    const ResourceName* tail = target != name.start ? graph.name_at(target) : nullptr;
    const bool interior = target != name.start && !(tail && tail->outer == name.start);
    const bool unknown_referrer = !name.is_inline && !graph.is_name_pointer_field(p);
    if (interior || unknown_referrer)
      return fail("Unaccounted or interior pointer at " + hex_offset(p) + " refers into renamed string " +
                  hex_offset(name.start) + "; relocation refused.");
    return {};
  });
}

Result<std::uint64_t> write_names(TrackedBuffer& buffer, const NameGraph& graph) {
  std::uint64_t moved = 0;
  for (const ResourceName& name : graph.names) {
    if (!name.changed() || name.outer) continue;  // a tail is written with its outer string
    const std::string& text = *name.new_text;
    if (name.is_inline) {
      std::string field(name.capacity, '\0');
      std::copy(text.begin(), text.end(), field.begin());
      TRY(buffer.write(name.start, field));
      continue;
    }
    if (text.size() <= name.text.size()) {
      std::string field(name.text.size() + 1, '\0');
      std::copy(text.begin(), text.end(), field.begin());
      TRY(buffer.write(name.start, field));
      continue;
    }
    const std::uint64_t new_offset = align_up(buffer.size());
    if (new_offset + text.size() + 1 > kRsc7DecodedLimitBytes)
      return fail("Relocated resource names exceed the 256 MiB decoded limit.");
    buffer.grow(new_offset + text.size() + 1);
    TRY(buffer.write(new_offset, std::string(text) + '\0'));
    for (std::uint64_t field : name.referrers) TRY(buffer.write(field, le64(kSystemAddressBase + new_offset)));
    // The tails' prefixes did not change, so each keeps its distance from the start.
    for (const ResourceName& tail : graph.names) {
      if (tail.outer != name.start) continue;
      for (std::uint64_t field : tail.referrers)
        TRY(buffer.write(field, le64(kSystemAddressBase + new_offset + (tail.start - name.start))));
    }
    TRY(buffer.write(name.start, std::string(name.text.size() + 1, '\0')));
    ++moved;
  }
  return moved;
}

Result<std::uint64_t> system_target(std::uint64_t value) {
  if ((value >> 28) != (kSystemAddressBase >> 28))
    return fail("Unsupported non-system pointer " + hex_offset(value) + " in resource name graph.");
  return value - kSystemAddressBase;
}

// Recomputes the hashes of renamed textures and writes the dictionary back
// sorted by hash. Entries are read from the original segment: a moved name's
// field already points at its new storage in the new buffer.
Result<std::uint64_t> rebuild_dictionary(TrackedBuffer& buffer, std::string_view system, const NameGraph& graph,
                                         const TextureDictionaryLists& dictionary) {
  struct Entry {
    std::uint32_t hash;
    std::uint64_t pointer;
  };
  std::vector<Entry> entries;
  entries.reserve(dictionary.count);
  std::uint64_t updated = 0;
  for (std::uint64_t i = 0; i < dictionary.count; ++i) {
    const std::uint64_t pointer = read_u64_le(system, dictionary.pointer_array + i * kPointerBytes);
    if (pointer == 0) return fail("Null texture while rebuilding dictionary.");
    const std::uint64_t texture = TRY(system_target(pointer));
    if (texture > system.size() || system.size() - texture < kTextureNameField + kPointerBytes)
      return fail("Schema field at decoded offset " + hex_offset(texture) + " is outside system storage.");
    const std::uint64_t name_pointer = read_u64_le(system, texture + kTextureNameField);
    if (name_pointer == 0) return fail("Texture has a null name.");
    const std::uint64_t name_start = TRY(system_target(name_pointer));
    std::uint32_t hash = read_u32_le(system, dictionary.hash_array + i * 4);
    const ResourceName* name = graph.name_at(name_start);
    if (name && name->changed()) {
      if (!is_ascii(name->text) || !is_ascii(*name->new_text))
        return fail("Hash-bearing texture names require ASCII for verified name-hash rebuilding.");
      if (texture_name_hash(name->text) != hash)
        return fail("Existing texture dictionary hash does not match its name; unsupported layout or corrupt input.");
      hash = texture_name_hash(*name->new_text);
      ++updated;
    }
    entries.push_back({hash, pointer});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.hash < b.hash; });
  for (std::size_t i = 1; i < entries.size(); ++i)
    if (entries[i].hash == entries[i - 1].hash)
      return fail("Renamed texture dictionary would contain duplicate/colliding name hashes.");
  for (std::uint64_t i = 0; i < entries.size(); ++i) {
    TRY(buffer.write(dictionary.hash_array + i * 4, le32(entries[i].hash)));
    TRY(buffer.write(dictionary.pointer_array + i * kPointerBytes, le64(entries[i].pointer)));
  }
  return updated;
}

// Where the moved names will end, for one reservation up front.
std::uint64_t planned_system_end(const NameGraph& graph, std::uint64_t system_size) {
  std::uint64_t end = system_size;
  for (const ResourceName& name : graph.names)
    if (name.changed() && !name.is_inline && !name.outer && name.new_text->size() > name.text.size())
      end = align_up(end) + name.new_text->size() + 1;
  return end;
}

}  // namespace

std::uint32_t texture_name_hash(std::string_view name) {
  std::uint32_t h = 0;
  for (char c : name) {
    h += fold(static_cast<unsigned char>(c));
    h += h << 10;
    h ^= h >> 6;
  }
  h += h << 3;
  h ^= h >> 11;
  h += h << 15;
  return h;
}

Result<std::uint64_t> rename_resource_names(NameGraph& graph, const Rsc7Resource& resource,
                                            const NameRenamer& rename) {
  std::uint64_t running_end = resource.system_size;
  std::uint64_t changed = 0;
  for (ResourceName& name : graph.names) {
    RenamedText renamed = TRY(rename(name.text));
    if (renamed.text == name.text) continue;
    if (has_name_control_character(renamed.text)) return fail("Renamed resource names cannot contain control characters.");
    // The game looks resources up by name (a texture by its hash, which would be 0).
    if (renamed.text.empty())
      return fail("Renaming would leave the resource name at " + hex_offset(name.start) +
                  " empty; the game cannot find an empty name.");
    const std::uint64_t needed = renamed.text.size() + 1;
    if (name.is_inline && needed > name.capacity)
      return fail("Inline name at " + hex_offset(name.start) + " has a " + std::to_string(name.capacity) +
                  "-byte field; the requested name needs " + std::to_string(needed) +
                  " bytes. This field cannot be enlarged safely.");
    if (!name.is_inline && !name.outer && renamed.text.size() > name.text.size()) {
      running_end = align_up(running_end) + needed;
      if (saturating_add(running_end, resource.graphics_size) > kRsc7DecodedLimitBytes)
        return fail("Relocated names and graphics exceed the 256 MiB decoded limit.");
    }
    name.new_text = std::move(renamed.text);
    name.replacements = renamed.count;
    ++changed;
  }
  return changed;
}

bool contains_literal(std::string_view data, std::string_view find, MatchCase match_case) {
  bool found = false;
  LiteralSearch(find, match_case).run(data, [&](std::uint64_t) {
    found = true;
    return false;
  });
  return found;
}

std::optional<std::uint64_t> find_match_outside_names(std::string_view decoded, const NameGraph& graph,
                                                      std::string_view find, MatchCase match_case) {
  std::optional<std::uint64_t> outside;
  LiteralSearch(find, match_case).run(decoded, [&](std::uint64_t offset) {
    // Names that contain a byte share its terminating NUL, so the last name
    // starting at or before the match is the one that could contain it.
    auto it = std::upper_bound(graph.names.begin(), graph.names.end(), offset,
                               [](std::uint64_t value, const ResourceName& name) { return value < name.start; });
    const bool inside = it != graph.names.begin() && offset + find.size() <= (it - 1)->start + (it - 1)->text.size();
    if (!inside) outside = offset;
    return inside;
  });
  return outside;
}

Result<RelocatedResource> relocate_resource_names(const Rsc7Resource& resource, const NameGraph& graph,
                                                  std::string_view find, MatchCase match_case) {
  TRY(check_overlapping_aliases(graph));
  if (auto offset = find_match_outside_names(resource.decoded, graph, find, match_case))
    return fail("A matching literal at decoded offset " + hex_offset(*offset) +
                " is outside supported YFT/YTD/YDR name fields. No resource was changed; this field needs a "
                "format-specific parser.");
  TRY(check_hidden_references(resource.decoded, resource.system_size, graph));

  RelocatedResource result;
  const std::string_view system = std::string_view(resource.decoded).substr(0, resource.system_size);
  const std::uint64_t planned = planned_system_end(graph, resource.system_size);
  const std::uint64_t planned_pages =
      planned == resource.system_size ? planned : std::max(kMinRelocatedSystemBytes, std::bit_ceil(planned));
  if (!reserve_large(result.decoded,
                     std::min(saturating_add(planned_pages, resource.graphics_size), kRsc7DecodedLimitBytes)))
    return fail("Not enough memory for bounded resource relocation.");
  result.decoded.assign(system);
  TrackedBuffer buffer(result.decoded);
  result.moved = TRY(write_names(buffer, graph));
  for (const TextureDictionaryLists& dictionary : graph.dictionaries)
    result.updated_hashes += TRY(rebuild_dictionary(buffer, system, graph, dictionary));

  std::uint64_t new_system_size = resource.system_size;
  if (result.moved > 0) {
    new_system_size = std::max(kMinRelocatedSystemBytes, std::bit_ceil(buffer.size()));
    if (new_system_size + resource.graphics_size > kRsc7DecodedLimitBytes)
      return fail("Relocated resource including graphics exceeds 256 MiB.");
    if (resource.graphics_pages > kMaxGraphicsPagesForRelocation)
      return fail("Graphics page count leaves no room for a relocated system page.");
    for (std::uint64_t record : graph.page_info_records) TRY(buffer.write(record + kPageInfoSystemCount, "\x01"));
    const auto shift = static_cast<std::uint32_t>(std::countr_zero(new_system_size) - kMinPageShift);
    result.new_system_flags = (resource.system_flags & kKeptFlagBits) | kOneSixteenBasePage | shift;
  }
  if (!reserve_large(result.decoded, new_system_size + resource.graphics_size))
    return fail("Not enough memory for bounded resource page storage.");
  buffer.grow(new_system_size);
  result.decoded.append(std::string_view(resource.decoded).substr(resource.system_size, resource.graphics_size));
  for (const ResourceName& name : graph.names) result.replacements += name.replacements;
  return result;
}

}  // namespace tarnwick
