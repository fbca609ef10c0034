// The copy is made durable by one flush of the destination's filesystem: after
// every file is written, before anything is verified, through a descriptor
// opened before the first byte was copied; a failed flush fails the backup.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "backup/backup.h"
#include "backup_support.h"
#include "common/fs_testing.h"
#include "common/text.h"

namespace tarnwick {
namespace {

using testing::TempDir;

constexpr const char* kRemoved = "\nIncomplete backup removed. Original files were not changed.";

// Paths the process holds descriptors on, from /proc/self/fd.
std::vector<std::string> open_descriptor_paths() {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    if (!error) paths.push_back(target.string());
  }
  return paths;
}

// Regular files below root with their bytes, by relative path.
std::map<std::string, std::string> file_contents(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) {
      files[std::filesystem::relative(entry.path(), root).string()] = testing::read_file(entry.path().string());
    }
  }
  return files;
}

class BackupBulkFlush : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.folder("dest");
    dir_.file("src/big.bin", testing::patterned_bytes(150'000, 5));  // three copy chunks
    dir_.file("src/empty.txt");
    dir_.file("src/sub/deeper/note.txt", "note", 0400);
    dir_.folder("src/sub/hollow");
  }
  std::string incomplete_container() const {
    for (const std::string& name : testing::list_names(dir_ / "dest")) {
      if (name.ends_with("-INCOMPLETE")) return dir_ / "dest" + "/" + name;
    }
    return "";
  }
  TempDir dir_;
};

TEST_F(BackupBulkFlush, EveryFileIsWrittenBeforeTheOneFlushAndVerifiedAfterIt) {
  std::string container_at_first_write;
  bool handle_open_at_first_write = false;
  {
    // Write-back errors count from the moment the flushing descriptor was
    // opened, so it must already be open when the first byte is copied.
    sys::testing::ScopedFaults faults;
    sys::testing::on_call(1, [&] {
      container_at_first_write = incomplete_container();
      for (const std::string& path : open_descriptor_paths()) {
        handle_open_at_first_write = handle_open_at_first_write || path == container_at_first_write;
      }
    }, sys::Call::Write);
    ASSERT_TRUE(create_backup_snapshot(dir_ / "src", dir_ / "dest").has_value());
  }
  EXPECT_FALSE(container_at_first_write.empty());
  EXPECT_TRUE(handle_open_at_first_write) << "no descriptor on " << container_at_first_write;
  testing::empty_folder(dir_ / "dest");

  std::map<std::string, std::string> copied_at_flush;
  std::uint64_t writes_at_flush = 0;
  std::uint64_t reads_back_at_flush = 0;
  std::uint64_t fsyncs_at_flush = 0;
  sys::testing::ScopedFaults faults;
  sys::testing::on_call(1, [&] {
    copied_at_flush = file_contents(incomplete_container() + "/src");
    writes_at_flush = sys::testing::calls_made(sys::Call::Write);
    reads_back_at_flush = sys::testing::calls_made(sys::Call::Lseek);  // each comparison starts with a rewind
    fsyncs_at_flush = sys::testing::calls_made(sys::Call::Fsync);
  }, sys::Call::Syncfs);
  const auto result = create_backup_snapshot(dir_ / "src", dir_ / "dest");
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(copied_at_flush, file_contents(dir_ / "src")) << "every byte is written before the flush";
  EXPECT_EQ(writes_at_flush, sys::testing::calls_made(sys::Call::Write));
  EXPECT_EQ(reads_back_at_flush, 0u) << "nothing is verified before the flush";
  EXPECT_EQ(sys::testing::calls_made(sys::Call::Lseek), 6u) << "three files, two descriptors each";
  EXPECT_EQ(fsyncs_at_flush, 0u) << "no file waits for the disk on its own";
  EXPECT_EQ(sys::testing::calls_made(sys::Call::Syncfs), 1u);
  testing::expect_exact_backup(dir_ / "src", *result);
}

// The flush reports a write-back error (the kernel's answer when a page of the
// copy could not be written): the backup fails as a failed flush of one file
// did, and nothing is left that could pass for a finished backup.
TEST_F(BackupBulkFlush, WriteBackErrorReportedByTheFlushFailsTheBackup) {
  const auto source = testing::snapshot_tree(dir_ / "src");
  for (const int error : {EIO, ENOSPC}) {
    for (const bool persistent : {false, true}) {
      SCOPED_TRACE(std::to_string(error) + (persistent ? " persistently" : " once"));
      std::string container;
      Result<BackupResult> result;
      {
        sys::testing::ScopedFaults faults(sys::testing::Fault{
            .call_number = 1, .error = error, .persistent = persistent, .only = sys::Call::Syncfs});
        sys::testing::on_call(1, [&] { container = incomplete_container(); }, sys::Call::Syncfs);
        result = create_backup_snapshot(dir_ / "src", dir_ / "dest");
        EXPECT_EQ(sys::testing::calls_made(sys::Call::Lseek), 0u) << "no verification after a failed flush";
      }
      ASSERT_FALSE(result.has_value());
      ASSERT_FALSE(container.empty());
      EXPECT_EQ(result.error(), "Cannot flush backup data: " + os_error_text(error) + "\nPath: " + container + kRemoved);
      EXPECT_TRUE(testing::list_names(dir_ / "dest").empty());
      EXPECT_EQ(testing::describe_difference(source, testing::snapshot_tree(dir_ / "src")), "");
    }
  }
}

}  // namespace
}  // namespace tarnwick
