// The rules every resulting name and path must satisfy: Windows-valid names,
// final path lengths, and no two entries ending with one name.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

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

// Original path -> own-renamed path, for every entry whose name changes.
using RenameMap = std::unordered_map<std::string, std::string>;
// The path after it and every one of its ancestors took the new name the map gives.
std::string final_path_through(std::string_view path, const RenameMap& renames);

// The last component of a path ("name" of "/a/name"), and everything before its separator.
std::string_view last_component(std::string_view path);
std::string_view parent_path(std::string_view path);
// parent + "/" + name, without doubling the separator after "/".
std::string join_path(std::string_view parent, std::string_view name);

}  // namespace tarnwick
