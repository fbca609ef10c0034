// Fails every filesystem call of a backup in turn, once and from then on: the
// source never changes, and the destination holds either the complete backup,
// nothing, or exactly the leftovers the message names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "backup/backup.h"
#include "backup_support.h"
#include "common/fs_testing.h"

namespace tarnwick {
namespace {

using testing::TempDir;

// What a failure message says of each path it names: the path itself, and
// whether its line says that the cleanup left that whole folder alone.
struct NamedPath {
  std::string path;
  bool whole_folder_remains = false;
};

std::vector<NamedPath> named_in(const std::string& message) {
  std::vector<NamedPath> named;
  std::string previous;
  std::size_t at = 0;
  while (at <= message.size()) {
    const std::size_t end = std::min(message.find('\n', at), message.size());
    const std::string line = message.substr(at, end - at);
    if (line.starts_with("Path: ")) {
      named.push_back(NamedPath{line.substr(6), previous.find("cleanup refused") != std::string::npos});
    }
    previous = line;
    at = end + 1;
  }
  return named;
}

// Every leftover below the retained folder must be named by the message: its
// own path, or a folder above it whose line says the whole folder remains
// (the cleanup refused to enter it). A folder above that is merely named, as
// one that could not be removed, does not name what is inside.
std::string unnamed_leftovers(const std::string& destination, const std::string& message) {
  const std::vector<std::string> left = testing::list_names(destination);
  if (message.ends_with("\nIncomplete backup removed. Original files were not changed.")) {
    return left.empty() ? "" : "the message says the incomplete backup was removed\n";
  }
  if (left.empty()) return "";
  if (left.size() != 1u) return "more than one folder left behind\n";
  const std::string retained = destination + "/" + left.front();
  std::string unnamed;
  if (message.find("Incomplete backup remains at " + retained + ". ") == std::string::npos &&
      message.find("Incomplete backup retained at " + retained + ": ") == std::string::npos) {
    unnamed += "the leftover folder is not reported: " + retained + "\n";
  }
  const std::vector<NamedPath> named = named_in(message);
  const auto is_named = [&](const std::string& leftover) {
    for (const NamedPath& entry : named) {
      if (entry.path == leftover) return true;
      if (entry.whole_folder_remains && leftover.starts_with(entry.path + "/")) return true;
    }
    return false;
  };
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(retained, error)) {
    if (!is_named(entry.path().string())) unnamed += "unreported leftover " + entry.path().string() + "\n";
  }
  return unnamed;
}

TEST(BackupFaultSweep, TheLeftoverCheckNamesOnlyWhatTheMessageNames) {
  TempDir dir;
  const std::string container = dir.folder("dest/Tarnwick-backup-1-2-3-INCOMPLETE");
  dir.file("dest/Tarnwick-backup-1-2-3-INCOMPLETE/src/sub/f");
  const std::string head = "E\nOriginal files were not changed. Incomplete backup remains at " + container +
                           ". Preserve or remove it manually:\n";
  const std::string sub = container + "/src/sub";
  EXPECT_EQ(unnamed_leftovers(dir / "dest", head + "Could not remove incomplete backup entry: Directory not empty (os "
                                                   "error 39)\nPath: " + sub + "\nPath: " + container + "/src"),
            "unreported leftover " + sub + "/f\n")
      << "a folder that is only named does not name its contents";
  EXPECT_EQ(unnamed_leftovers(dir / "dest", head + "Incomplete backup entry or parent identity changed: cleanup "
                                                   "refused\nPath: " + container + "/src"),
            "");
}

constexpr int kErrors[] = {EIO, ENOSPC, EACCES, EROFS, ENOENT, EPERM};

// One backup of src into dest under the given faults: the source is never
// changed, and dest holds the exact backup, nothing, or named leftovers.
void check_backup_under(const TempDir& dir, const testing::TreeSnapshot& source,
                        std::vector<sys::testing::Fault> faults) {
  Result<BackupResult> result;
  {
    sys::testing::ScopedFaults scoped(std::move(faults));
    result = create_backup_snapshot(dir / "src", dir / "dest");
  }
  EXPECT_EQ(testing::describe_difference(source, testing::snapshot_tree(dir / "src")), "");
  if (result) {
    testing::expect_exact_backup(dir / "src", *result);
    EXPECT_EQ(testing::list_names(dir / "dest").size(), 1u);
  } else {
    EXPECT_EQ(unnamed_leftovers(dir / "dest", result.error()), "") << "MESSAGE:\n" << result.error();
  }
  testing::empty_folder(dir / "dest");
}

std::uint64_t calls_of_backup(const TempDir& dir, std::vector<sys::testing::Fault> faults = {},
                              std::optional<sys::Call> kind = std::nullopt) {
  sys::testing::ScopedFaults counting(std::move(faults));
  (void)create_backup_snapshot(dir / "src", dir / "dest");
  const std::uint64_t calls = kind ? sys::testing::calls_made(*kind) : sys::testing::calls_made();
  testing::empty_folder(dir / "dest");
  return calls;
}

TEST(BackupFaultSweep, EveryFailedCallLeavesTheSourceAndOnlyReportedLeftovers) {
  const testing::FastTempRoot fast;
  TempDir dir;
  dir.folder("dest");
  dir.file("src/a.bin", testing::patterned_bytes(70'000, 3));
  dir.file("src/.hidden", "hidden");
  dir.file("src/ro/zero", "");
  dir.chmod("src/ro", 0555);
  dir.folder("src/empty");
  const auto source = testing::snapshot_tree(dir / "src");
  const std::uint64_t calls = calls_of_backup(dir);
  std::printf("backup fault sweep: %llu injection points, each failed once and persistently\n",
              static_cast<unsigned long long>(calls));
  for (const bool persistent : {false, true}) {
    for (std::uint64_t call = 1; call <= calls; ++call) {
      const int error = kErrors[call % std::size(kErrors)];
      SCOPED_TRACE("call " + std::to_string(call) + (persistent ? " persistently" : " once") + " with errno " +
                   std::to_string(error));
      check_backup_under(dir, source, {{.call_number = call, .error = error, .persistent = persistent}});
      if (HasFailure()) return;
    }
  }
  // One kind of call failing from one of them on, every other call working.
  // Removals happen only in the cleanup, so a late failure starts one first.
  const sys::testing::Fault late{.call_number = calls - 2, .error = EIO};
  for (const sys::Call kind : {sys::Call::Rename, sys::Call::Unlink, sys::Call::Rmdir, sys::Call::Fsync}) {
    const bool removal = kind == sys::Call::Unlink || kind == sys::Call::Rmdir;
    const std::vector<sys::testing::Fault> start = removal ? std::vector{late} : std::vector<sys::testing::Fault>{};
    const std::uint64_t count = calls_of_backup(dir, start, kind);
    EXPECT_GT(count, 0u) << sys::call_name(kind);
    for (std::uint64_t call = 1; call <= count; ++call) {
      SCOPED_TRACE(std::string(sys::call_name(kind)) + " " + std::to_string(call) + " on");
      std::vector<sys::testing::Fault> faults = start;
      faults.push_back({.call_number = call, .error = EIO, .persistent = true, .only = kind});
      check_backup_under(dir, source, std::move(faults));
      if (HasFailure()) return;
    }
  }
}

// A first fault anywhere and a second one after it, in the cleanup or the
// rest of the way, on a small source.
TEST(BackupFaultSweep, EveryPairOfFaultsLeavesOnlyReportedLeftovers) {
  const testing::FastTempRoot fast;
  TempDir dir;
  dir.folder("dest");
  dir.file("src/f", "data");
  const auto source = testing::snapshot_tree(dir / "src");
  const std::uint64_t calls = calls_of_backup(dir);
  std::uint64_t pairs = 0;
  for (std::uint64_t first = 1; first <= calls; ++first) {
    const std::uint64_t after_first = calls_of_backup(dir, {{.call_number = first, .error = EIO}});
    for (std::uint64_t second = first + 1; second <= after_first; ++second, ++pairs) {
      SCOPED_TRACE("calls " + std::to_string(first) + " and " + std::to_string(second));
      check_backup_under(dir, source, {{.call_number = first, .error = EIO},
                                       {.call_number = second, .error = kErrors[second % std::size(kErrors)]}});
      if (HasFailure()) return;
    }
  }
  std::printf("backup pairs of faults: %llu\n", static_cast<unsigned long long>(pairs));
  EXPECT_GT(pairs, 500u);
}

}  // namespace
}  // namespace tarnwick
