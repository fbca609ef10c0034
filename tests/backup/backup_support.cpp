// Helpers shared by the backup tests.
#include "backup_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

namespace tarnwick::testing {

std::vector<std::string> list_names(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string only_backup_folder(const std::string& destination) {
  std::string found;
  for (const std::string& name : list_names(destination)) {
    if (!name.starts_with("Tarnwick-backup-")) continue;
    if (!found.empty()) return "";
    found = destination + "/" + name;
  }
  return found;
}

std::string patterned_bytes(std::size_t size, std::uint32_t seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

void empty_folder(const std::string& folder) {
  for (const std::string& name : list_names(folder)) {
    run_command("chmod -R u+rwx '" + folder + "/" + name + "' 2>/dev/null; rm -rf '" + folder + "/" + name + "'");
  }
}

std::vector<std::string> named_paths(const std::string& message) {
  std::vector<std::string> paths;
  std::istringstream lines(message);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("Path: ")) paths.push_back(line.substr(6));
  }
  return paths;
}

namespace {

// "Tarnwick-backup-{time}-{pid}-{counter}", three decimal numbers.
bool is_final_backup_name(const std::string& name) {
  const std::string prefix = "Tarnwick-backup-";
  if (!name.starts_with(prefix)) return false;
  int numbers = 0;
  bool in_number = false;
  for (const char c : name.substr(prefix.size())) {
    if (c >= '0' && c <= '9') {
      if (!in_number) ++numbers;
      in_number = true;
    } else if (c == '-' && in_number) {
      in_number = false;
    } else {
      return false;
    }
  }
  return numbers == 3 && in_number;
}

}  // namespace

void expect_exact_backup(const std::string& source, const BackupResult& result) {
  const std::string name = std::filesystem::path(source).filename().string();
  const std::string folder_name = std::filesystem::path(result.folder).filename().string();
  EXPECT_TRUE(is_final_backup_name(folder_name)) << folder_name;
  struct stat status {};
  ASSERT_EQ(::lstat(result.folder.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0700u);
  EXPECT_EQ(list_names(result.folder), std::vector<std::string>{name});
  EXPECT_EQ(describe_difference(snapshot_tree(source), snapshot_tree(result.folder + "/" + name)), "");
}

}  // namespace tarnwick::testing
