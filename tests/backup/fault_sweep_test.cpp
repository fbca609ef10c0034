// Fails every filesystem call of a backup in turn, once and from then on: the
// source never changes, and the destination holds either the complete backup,
// nothing, or exactly the leftovers the message names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "backup/backup.h"
#include "backup_support.h"
#include "common/fs_testing.h"

namespace tarnwick {
namespace {

using testing::TempDir;

// Every leftover below the retained folder must be named by the message,
// itself or through a folder above it that the cleanup refused to enter.
void expect_leftovers_named(const std::string& destination, const std::string& message) {
  const std::vector<std::string> left = testing::list_names(destination);
  if (message.ends_with("\nIncomplete backup removed. Original files were not changed.")) {
    EXPECT_TRUE(left.empty()) << "the message says the incomplete backup was removed";
    return;
  }
  if (left.empty()) return;
  ASSERT_EQ(left.size(), 1u) << "more than one folder left behind";
  const std::string retained = destination + "/" + left.front();
  EXPECT_TRUE(message.find("Incomplete backup remains at " + retained + ". ") != std::string::npos ||
              message.find("Incomplete backup retained at " + retained + ": ") != std::string::npos)
      << "the leftover folder is not reported: " << retained;
  const std::vector<std::string> named = testing::named_paths(message);
  const auto is_named = [&](std::string path) {
    for (;;) {
      if (std::find(named.begin(), named.end(), path) != named.end()) return true;
      if (path.size() <= retained.size()) return false;
      path = std::filesystem::path(path).parent_path().string();
    }
  };
  EXPECT_TRUE(is_named(retained)) << retained;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(retained, error)) {
    EXPECT_TRUE(is_named(entry.path().string())) << "unreported leftover " << entry.path();
  }
}

TEST(BackupFaultSweep, EveryFailedCallLeavesTheSourceAndOnlyReportedLeftovers) {
  TempDir dir;
  dir.folder("dest");
  dir.file("src/a.bin", testing::patterned_bytes(70'000, 3));
  dir.file("src/.hidden", "hidden");
  dir.file("src/ro/zero", "");
  dir.chmod("src/ro", 0555);
  dir.folder("src/empty");
  const auto source = testing::snapshot_tree(dir / "src");

  std::uint64_t calls = 0;
  {
    sys::testing::ScopedFaults counting;
    const auto clean = create_backup_snapshot(dir / "src", dir / "dest");
    ASSERT_TRUE(clean.has_value()) << clean.error();
    calls = sys::testing::calls_made();
  }
  testing::empty_folder(dir / "dest");
  std::printf("backup fault sweep: %llu injection points, each failed once and persistently\n",
              static_cast<unsigned long long>(calls));

  constexpr int kErrors[] = {EIO, ENOSPC, EACCES, EROFS, ENOENT, EPERM};
  for (const bool persistent : {false, true}) {
    for (std::uint64_t call = 1; call <= calls; ++call) {
      const int error = kErrors[call % std::size(kErrors)];
      SCOPED_TRACE("call " + std::to_string(call) + (persistent ? " persistently" : " once") + " with errno " +
                   std::to_string(error));
      Result<BackupResult> result;
      {
        sys::testing::ScopedFaults faults(
            sys::testing::Fault{.call_number = call, .error = error, .persistent = persistent});
        result = create_backup_snapshot(dir / "src", dir / "dest");
        EXPECT_GE(sys::testing::faults_fired(), 1u);
      }
      EXPECT_EQ(testing::describe_difference(source, testing::snapshot_tree(dir / "src")), "");
      if (result) {
        testing::expect_exact_backup(dir / "src", *result);
        EXPECT_EQ(testing::list_names(dir / "dest").size(), 1u);
      } else {
        expect_leftovers_named(dir / "dest", result.error());
      }
      testing::empty_folder(dir / "dest");
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace tarnwick
