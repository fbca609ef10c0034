// Helpers shared by the backup tests: reading what a backup left in its
// destination, and the standard trees the tests back up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "support/temp_tree.h"

namespace tarnwick::testing {

// Names in a folder (not recursive), sorted.
std::vector<std::string> list_names(const std::string& folder);
// The single entry in destination whose name starts with the backup prefix, or "".
std::string only_backup_folder(const std::string& destination);
// Deterministic bytes that are not all alike, so a misplaced chunk shows.
std::string patterned_bytes(std::size_t size, std::uint32_t seed);
// Empties a folder whatever the modes inside it.
void empty_folder(const std::string& folder);
// Lines "Path: X" of a message, as X.
std::vector<std::string> named_paths(const std::string& message);

// Asserts (gtest) that result.folder holds an exact copy of source named like
// the source's final component, with the container at 0700 and a final name.
void expect_exact_backup(const std::string& source, const BackupResult& result);

}  // namespace tarnwick::testing
