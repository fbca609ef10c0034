// The rules every resulting name and path must satisfy: Windows-valid names,
// final path lengths, and no two entries ending with one name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/result.h"
#include "engine/engine.h"

namespace tarnwick {

// A new name that differs from the current one: valid on Linux and Windows,
// within 255 bytes and 255 UTF-16 units, and no reserved device name.
Result<void> check_new_name(std::string_view name);

// Final paths must be below 4096 bytes each and at most 16 MiB together.
class FinalPathBudget {
 public:
  Result<void> add(std::string_view final_path);

 private:
  std::uint64_t total_bytes_ = 0;
};

// Over all records in walk order: no two records whose own-renamed paths
// differ only in letter case (full Unicode lower-casing), and every rename
// destination free on disk (probed without following links).
Result<void> check_collisions_and_destinations(std::span<const ScanRecord> records);

// The map of that rule, from the lower-cased own-renamed path to the first
// record that had it, fed one record at a time, in walk order for speed.
class CollisionIndex {
 public:
  explicit CollisionIndex(std::span<const ScanRecord> records) : fixed_(records) {}
  // Records still being appended to: each index must exist by the time it is claimed.
  explicit CollisionIndex(const std::vector<ScanRecord>& growing) : growing_(&growing) {}

  // The earlier record holding the key of records[index]; when there is none,
  // records[index] becomes its holder.
  std::optional<std::size_t> claim(std::size_t index);

 private:
  struct Slot {
    std::uint64_t hash = 0;
    std::size_t record_plus_one = 0;  // 0 = empty
  };
  // Open addressing from a key's 64-bit hash to the record holding the key.
  struct Table {
    std::vector<Slot> slots;
    std::size_t used = 0;
  };
  struct Folder {
    std::size_t record;  // whose own-renamed path begins with the folder's path
    std::size_t length;  // of that path
    std::uint64_t hash;
    std::size_t table;
  };

  const ScanRecord& record(std::size_t index) const;
  Slot& find(Table& table, std::uint64_t hash, std::size_t index);
  static void grow(Table& table);
  Folder folder_of(std::size_t index, std::size_t length);
  std::uint64_t hash_of_key(std::string_view name);
  static std::uint64_t mix(std::uint64_t parent, std::uint64_t name);

  std::span<const ScanRecord> fixed_;
  const std::vector<ScanRecord>* growing_ = nullptr;
  std::vector<Folder> folders_;
  std::vector<Table> tables_;
  std::unordered_map<std::uint64_t, std::size_t> table_of_key_;  // a parent key's hash -> its table
  std::string key_;
  std::string other_key_;
};

// "Two entries would share the same name: {holder} and {record}."
std::string collision_text(const ScanRecord& holder, const ScanRecord& record);
// The destination of a renamed record is free (probed without following links).
Result<void> check_destination(const ScanRecord& record);

// Original path -> own-renamed path, for every entry whose name changes.
using RenameMap = std::unordered_map<std::string, std::string>;
// The path after it and every one of its ancestors took the new name the map gives.
std::string final_path_through(std::string_view path, const RenameMap& renames);

// The last component of a path ("name" of "/a/name"), and everything before its separator.
std::string_view last_component(std::string_view path);
std::string_view parent_path(std::string_view path);
// parent + "/" + name, without doubling the separator after "/".
std::string join_path(std::string_view parent, std::string_view name);

// The walk records entries depth first with each folder's children in byte
// order of their names: that is the order of their paths compared component
// by component, where the separator sorts before every other byte.
bool precedes_in_walk(std::string_view a, std::string_view b);

}  // namespace tarnwick
