// The backup's progress record and its cancel: the counts rise chunk by chunk
// to the totals recorded before the copy, and a cancel at any call removes
// everything the backup created.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "backup/backup.h"
#include "backup_support.h"
#include "common/fs_testing.h"
#include "support/every_call.h"

namespace tarnwick {
namespace {

using testing::TempDir;

constexpr std::uint64_t kChunk = 65'536;
constexpr std::uint64_t kBigFileBytes = 200'000;  // three full chunks and a part

void build_tree(TempDir& dir) {
  dir.folder("dest");
  dir.file("src/big.bin", testing::patterned_bytes(kBigFileBytes, 7));
  dir.file("src/sub/small", "abc");
  dir.folder("src/empty");
}

struct BackupReading {
  BackupStage stage;
  std::uint64_t files_copied, bytes_copied, files_verified, bytes_verified;
};

TEST(BackupProgressAndCancel, CountsRiseByChunkToTheTotalsRecordedBeforeCopying) {
  TempDir dir;
  build_tree(dir);
  WorkerControl control;
  const BackupProgress& progress = control.backup;
  std::vector<BackupReading> readings;
  Result<BackupResult> result;
  {
    sys::testing::ScopedFaults counting;
    const testing::BeforeEveryCall sampler([&] {
      readings.push_back({progress.stage.load(), progress.files_copied.value(), progress.bytes_copied.value(),
                          progress.files_verified.value(), progress.bytes_verified.value()});
      // The totals are known before the first byte is copied.
      if (progress.stage.load() != BackupStage::Preparing) {
        EXPECT_EQ(progress.files_total.value(), 2u);
        EXPECT_EQ(progress.bytes_total.value(), kBigFileBytes + 3);
      }
    });
    result = create_backup_snapshot(dir / "src", dir / "dest", &control);
  }
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(progress.files_copied.value(), result->files);
  EXPECT_EQ(progress.bytes_copied.value(), result->bytes);
  EXPECT_EQ(progress.files_verified.value(), result->files);
  EXPECT_EQ(progress.bytes_verified.value(), result->bytes);
  EXPECT_EQ(progress.stage.load(), BackupStage::Finishing);

  const auto column = [&](auto member) {
    std::vector<std::uint64_t> values;
    for (const BackupReading& reading : readings) values.push_back(member(reading));
    return values;
  };
  const auto stages = column([](const BackupReading& r) { return static_cast<std::uint64_t>(r.stage); });
  const auto bytes_copied = column([](const BackupReading& r) { return r.bytes_copied; });
  const auto bytes_verified = column([](const BackupReading& r) { return r.bytes_verified; });
  EXPECT_TRUE(std::ranges::is_sorted(stages));
  EXPECT_TRUE(std::ranges::is_sorted(bytes_copied));
  EXPECT_TRUE(std::ranges::is_sorted(bytes_verified));
  EXPECT_TRUE(std::ranges::is_sorted(column([](const BackupReading& r) { return r.files_copied; })));
  EXPECT_TRUE(std::ranges::is_sorted(column([](const BackupReading& r) { return r.files_verified; })));
  // Read between the chunks of the big file, in both passes.
  for (const std::uint64_t between : {kChunk, 2 * kChunk, 3 * kChunk}) {
    EXPECT_TRUE(std::ranges::count(bytes_copied, between) > 0) << between;
    EXPECT_TRUE(std::ranges::count(bytes_verified, between) > 0) << between;
  }
  for (const BackupStage stage : {BackupStage::Preparing, BackupStage::Copying, BackupStage::Verifying,
                                  BackupStage::Finishing}) {
    EXPECT_TRUE(std::ranges::count(stages, static_cast<std::uint64_t>(stage)) > 0) << static_cast<int>(stage);
  }
}

TEST(BackupProgressAndCancel, ACancelAtAnyCallLeavesTheDestinationAsItWas) {
  const testing::FastTempRoot fast;
  TempDir tree;
  build_tree(tree);
  const auto before = testing::snapshot_tree(tree.path());
  std::uint64_t calls = 0;
  {
    sys::testing::ScopedFaults counting;
    ASSERT_TRUE(create_backup_snapshot(tree / "src", tree / "dest").has_value());
    calls = sys::testing::calls_made();
  }
  testing::empty_folder(tree / "dest");
  std::uint64_t cancelled = 0;
  std::optional<std::uint64_t> first_completed;
  for (std::uint64_t call = 1; call <= calls; ++call) {
    SCOPED_TRACE("cancel before call " + std::to_string(call));
    WorkerControl control;
    Result<BackupResult> result;
    std::uint64_t copied_then = 0;
    std::uint64_t verified_then = 0;
    {
      sys::testing::ScopedFaults counting;
      sys::testing::on_call(call, [&] {
        EXPECT_TRUE(control.request_cancel());
        copied_then = control.backup.bytes_copied.value();
        verified_then = control.backup.bytes_verified.value();
      });
      result = create_backup_snapshot(tree / "src", tree / "dest", &control);
    }
    if (result) {
      // Past its last check the backup finishes: nothing is removed once verified.
      if (!first_completed) first_completed = call;
      testing::expect_exact_backup(tree / "src", *result);
      testing::empty_folder(tree / "dest");
    } else {
      EXPECT_EQ(result.error(), kBackupCancelled);
      // Stopped within the chunk it was copying or comparing.
      EXPECT_LE(control.backup.bytes_copied.value(), copied_then + kChunk);
      EXPECT_LE(control.backup.bytes_verified.value(), verified_then + kChunk);
      EXPECT_FALSE(first_completed.has_value()) << "cancelled after a cancel at call " << *first_completed
                                                << " was ignored";
      ++cancelled;
    }
    EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(tree.path())), "");
    if (HasFailure()) return;
  }
  std::printf("backup cancel sweep: %llu calls, %llu cancelled\n", static_cast<unsigned long long>(calls),
              static_cast<unsigned long long>(cancelled));
  EXPECT_GT(cancelled, calls * 9 / 10);
}

}  // namespace
}  // namespace tarnwick
