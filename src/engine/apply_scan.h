// The apply's own copies of the preview's probes: the bounded file read, the
// folder listing, the entry identity and the collision and destination rule.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "engine/engine.h"

namespace tarnwick::apply {

FileIdentity identity_of(const struct stat& status);
// Opens without following links and reads at most limit bytes of a regular,
// single-link file; every failure is a complete text naming the path.
Result<std::string> read_bounded(const std::string& path, std::uint64_t limit);
// The folder's children as full paths, sorted by bytes.
Result<std::vector<std::string>> list_folder(const std::string& folder);
// No two records end with one name; no rename destination is taken.
Result<void> check_collisions_and_destinations(const std::vector<ScanRecord>& records);

}  // namespace tarnwick::apply
