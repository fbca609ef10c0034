// The rules every resulting name and path must satisfy: Windows-valid names,
// final path lengths, and no two entries ending with one name.
#include "engine/name_rules.h"

#include <array>
#include <cerrno>
#include <functional>
#include <vector>

#include "common/fs.h"
#include "common/text.h"
#include "engine/limits.h"
#include "engine/unicode_text.h"

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

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

// Device names stay reserved on Windows whatever extension follows and
// whatever spaces end the stem, so "Con .log" is as unusable as "CON".
bool is_reserved_device_name(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string upper(stem);
  for (char& c : upper) c = ascii_upper(c);
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

namespace {

// Open addressing from the 64-bit hash of a key to the record that holds the
// key now. Keys themselves are not stored: 50,000 of them would be megabytes
// of fresh memory, and a hash match is confirmed by recomputing the one key.
class CollisionTable {
 public:
  explicit CollisionTable(std::size_t records) {
    std::size_t capacity = 16;
    while (capacity < records * 2) capacity *= 2;
    slots_.assign(capacity, Slot{});
  }

  struct Slot {
    std::uint64_t hash = 0;
    std::size_t record_plus_one = 0;  // 0 = empty
  };

  // The slot holding this key, or the empty slot where it belongs.
  Slot& find(std::uint64_t hash, std::string_view key, std::span<const ScanRecord> records, std::string& scratch) {
    for (std::size_t at = hash & (slots_.size() - 1);; at = (at + 1) & (slots_.size() - 1)) {
      Slot& slot = slots_[at];
      if (slot.record_plus_one == 0) return slot;
      if (slot.hash != hash) continue;
      lower_case_key_into(records[slot.record_plus_one - 1].own_renamed_path, scratch);
      if (scratch == key) return slot;
    }
  }

 private:
  std::vector<Slot> slots_;
};

}  // namespace

Result<void> check_collisions_and_destinations(std::span<const ScanRecord> records) {
  CollisionTable table(records.size());
  std::string key;
  std::string scratch;
  for (std::size_t index = 0; index < records.size(); ++index) {
    const ScanRecord& record = records[index];
    lower_case_key_into(record.own_renamed_path, key);
    const std::uint64_t hash = std::hash<std::string_view>{}(key);
    CollisionTable::Slot& slot = table.find(hash, key, records, scratch);
    if (slot.record_plus_one != 0 && records[slot.record_plus_one - 1].original_path != record.original_path) {
      return fail("Two entries would share the same name: " + lossy_utf8(records[slot.record_plus_one - 1].original_path) +
                  " and " + lossy_utf8(record.original_path) + ".");
    }
    slot = CollisionTable::Slot{hash, index + 1};
    if (record.own_renamed_path == record.original_path) continue;
    const auto probe = sys::lstat(record.own_renamed_path);
    if (probe) {
      return fail(path_form("Rename destination already exists", "nothing has been changed", record.own_renamed_path));
    }
    if (probe.error() != ENOENT) {
      return fail(path_error("Cannot verify destination", probe.error(), record.own_renamed_path));
    }
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
