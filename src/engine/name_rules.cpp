// The rules every resulting name and path must satisfy: Windows-valid names,
// final path lengths, and no two entries ending with one name.
#include "engine/name_rules.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/fs.h"
#include "common/text.h"
#include "common/unicode_case.h"
#include "common/utf8.h"
#include "engine/limits.h"

namespace tarnwick {

namespace {

std::string invalid_name_text(std::string_view name) {
  return "Invalid resulting file/folder name: " + lossy_utf8(name) +
         ". Use a valid Windows name without path separators.";
}

bool is_forbidden_character(char32_t c) {
  constexpr std::u32string_view kForbidden = U"<>:\"/\\|?*";
  return c < 0x20 || kForbidden.find(c) != std::u32string_view::npos;
}

// Device names stay reserved on Windows whatever extension follows and
// whatever spaces end the stem, so "Con .log" is as unusable as "CON".
bool is_reserved_device_name(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string upper(stem);
  upper_ascii_in_place(upper);
  constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view device : kDevices) {
    if (upper == device) return true;
  }
  const std::string_view prefix = std::string_view(upper).substr(0, 3);
  if (prefix != "COM" && prefix != "LPT") return false;
  const std::string_view rest = std::string_view(upper).substr(3);
  if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '9') return true;
  // Superscript one, two and three count as digits there too.
  return rest == "\u00B9" || rest == "\u00B2" || rest == "\u00B3";
}

// The length of a path's folder part: "/a/b" -> 2 ("/a"), "/a" -> 1 ("/"),
// and 0 for a bare name.
std::size_t parent_length_of(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return 0;
  return slash == 0 ? 1 : slash;
}

}  // namespace

Result<void> check_new_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return fail(invalid_name_text(name));
  if (name.back() == '.' || name.back() == ' ') return fail(invalid_name_text(name));
  std::uint64_t utf16_units = 0;
  for (std::size_t at = 0; at < name.size();) {
    const auto c = decode_utf8_at(name, at);
    // Names reach here only as replacement results of valid UTF-8 names.
    if (!c || is_forbidden_character(c->code_point)) return fail(invalid_name_text(name));
    utf16_units += c->code_point > 0xFFFF ? 2 : 1;
    at += c->length;
  }
  if (name.size() > limits::kMaxNameBytes || utf16_units > limits::kMaxNameUtf16Units) {
    return fail(std::string(limits::kNameTooLong));
  }
  if (is_reserved_device_name(name)) return fail("Reserved Windows filename: " + std::string(name) + ".");
  return {};
}

Result<void> FinalPathBudget::add(std::string_view final_path) {
  if (final_path.size() >= limits::kFinalPathBytesLimit) {
    return fail(path_form(limits::kFinalPathTooLong, limits::kFinalPathTooLongDetail, final_path));
  }
  total_bytes_ = saturating_add(total_bytes_, final_path.size());
  if (total_bytes_ > limits::kMaxFinalPathStorageBytes) return fail(std::string(limits::kFinalPathsTooLarge));
  return {};
}

// Each record's key is the full lower-casing of its own-renamed path. A
// separator is neither cased nor case-ignorable, so lower-casing never looks
// across one: a key is its parent's key, a separator, and the name's key. The
// hash is built the same way, so each folder's key is hashed once for all of
// its children, and keys that share a parent key (only those can be equal) go
// to one small table of their own, which stays in cache while the folder's
// children are checked.
std::optional<std::size_t> CollisionIndex::claim(std::size_t index) {
  const std::string_view path = record(index).own_renamed_path;
  const Folder folder = folder_of(index, parent_length_of(path));
  const std::uint64_t hash = mix(folder.hash, hash_of_key(last_component(path)));
  Table& table = tables_[folder.table];
  if ((table.used + 1) * 2 > table.slots.size()) grow(table);
  Slot& slot = find(table, hash, index);
  if (slot.record_plus_one != 0) return slot.record_plus_one - 1;
  slot = Slot{hash, index + 1};
  table.used += 1;
  return std::nullopt;
}

const ScanRecord& CollisionIndex::record(std::size_t index) const {
  return growing_ != nullptr ? (*growing_)[index] : fixed_[index];
}

CollisionIndex::Slot& CollisionIndex::find(Table& table, std::uint64_t hash, std::size_t index) {
  const std::size_t mask = table.slots.size() - 1;
  bool key_known = false;
  for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
    Slot& slot = table.slots[at];
    if (slot.record_plus_one == 0) return slot;
    if (slot.hash != hash) continue;
    // Keys themselves are not stored; a hash match is confirmed by recomputing both.
    if (!key_known) lower_case_key_into(record(index).own_renamed_path, key_);
    key_known = true;
    lower_case_key_into(record(slot.record_plus_one - 1).own_renamed_path, other_key_);
    if (other_key_ == key_) return slot;
  }
}

void CollisionIndex::grow(Table& table) {
  const std::size_t capacity = std::max<std::size_t>(16, table.slots.size() * 2);
  std::vector<Slot> old = std::exchange(table.slots, std::vector<Slot>(capacity));
  const std::size_t mask = table.slots.size() - 1;
  for (const Slot& slot : old) {
    if (slot.record_plus_one == 0) continue;
    std::size_t at = slot.hash & mask;
    while (table.slots[at].record_plus_one != 0) at = (at + 1) & mask;
    table.slots[at] = slot;
  }
}

// Records come in walk order, so the folders in use form one chain from the
// target down: a stack of them serves each record with one comparison. A
// folder is kept as a prefix of the own-renamed path of the record that
// brought it, so that nothing points into a record that might move.
CollisionIndex::Folder CollisionIndex::folder_of(std::size_t index, std::size_t length) {
  const std::string_view path = std::string_view(record(index).own_renamed_path).substr(0, length);
  const auto path_of = [&](const Folder& folder) {
    return std::string_view(record(folder.record).own_renamed_path).substr(0, folder.length);
  };
  if (!folders_.empty() && path_of(folders_.back()) == path) return folders_.back();
  const auto is_within = [&](std::string_view folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || folder == "/" || path[folder.size()] == '/');
  };
  while (!folders_.empty() && !is_within(path_of(folders_.back()))) folders_.pop_back();
  if (folders_.empty() || path_of(folders_.back()) != path) {
    std::uint64_t hash = 0;
    if (path == "/" || path.empty()) {
      hash = hash_of_key({});
    } else {
      const std::uint64_t parent_hash = folder_of(index, parent_length_of(path)).hash;
      hash = mix(parent_hash, hash_of_key(last_component(path)));
    }
    const auto [entry, added] = table_of_key_.try_emplace(hash, tables_.size());
    if (added) tables_.emplace_back();
    folders_.push_back(Folder{index, length, hash, entry->second});
  }
  return folders_.back();
}

std::uint64_t CollisionIndex::hash_of_key(std::string_view name) {
  lower_case_key_into(name, key_);
  return std::hash<std::string_view>{}(key_);
}

std::uint64_t CollisionIndex::mix(std::uint64_t parent, std::uint64_t name) {
  std::uint64_t hash = parent ^ (name + 0x9E3779B97F4A7C15u + (parent << 6) + (parent >> 2));
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDu;
  hash ^= hash >> 33;
  return hash;
}

std::string collision_text(const ScanRecord& holder, const ScanRecord& record) {
  return "Two entries would share the same name: " + lossy_utf8(holder.original_path) + " and " +
         lossy_utf8(record.original_path) + ".";
}

Result<void> check_destination(const ScanRecord& record) {
  const auto probe = sys::lstat(record.own_renamed_path);
  if (probe) {
    return fail(path_form("Rename destination already exists", "nothing has been changed", record.own_renamed_path));
  }
  if (probe.error() != ENOENT) {
    return fail(path_error("Cannot verify destination", probe.error(), record.own_renamed_path));
  }
  return {};
}

Result<void> check_collisions_and_destinations(std::span<const ScanRecord> records) {
  CollisionIndex index(records);
  for (std::size_t at = 0; at < records.size(); ++at) {
    const ScanRecord& record = records[at];
    if (const auto holder = index.claim(at); holder && records[*holder].original_path != record.original_path) {
      return fail(collision_text(records[*holder], record));
    }
    if (record.own_renamed_path != record.original_path) TRY(check_destination(record));
  }
  return {};
}

std::string_view last_component(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view parent_path(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string join_path(std::string_view parent, std::string_view name) {
  std::string joined;
  joined.reserve(parent.size() + 1 + name.size());
  joined.append(parent);
  if (joined.empty() || joined.back() != '/') joined.push_back('/');
  joined.append(name);
  return joined;
}

bool precedes_in_walk(std::string_view a, std::string_view b) {
  const auto key = [](char c) { return c == '/' ? 0 : static_cast<unsigned char>(c) + 1; };
  return std::ranges::lexicographical_compare(a, b, {}, key, key);
}

std::string final_path_through(std::string_view path, const RenameMap& renames) {
  if (renames.empty()) return std::string(path);
  // From "/" downwards: each prefix that was renamed contributes its new last
  // component, every other prefix its own.
  std::string original;
  std::string final_path;
  original.reserve(path.size());
  final_path.reserve(path.size() + 64);
  std::size_t at = 0;
  while (at < path.size()) {
    const std::size_t slash = path.find('/', at + 1);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    const std::string_view piece = path.substr(at, end - at);  // "/name"
    original.append(piece);
    const auto renamed = renames.find(original);
    if (renamed == renames.end()) {
      final_path.append(piece);
    } else {
      final_path.push_back('/');
      final_path.append(last_component(renamed->second));
    }
    at = end;
  }
  return final_path;
}

}  // namespace tarnwick
