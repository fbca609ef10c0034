// Complete backups of real trees: contents, names, modes, counts, naming and limits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "backup/backup.h"
#include "backup_support.h"
#include "common/fs_testing.h"

namespace tarnwick {
namespace {

using testing::TempDir;

TEST(BackupSnapshot, CopiesAndVerifiesAWholeTree) {
  TempDir dir;
  dir.folder("dest");
  dir.folder("src/empty");
  dir.file("src/.hidden", "secret");
  dir.file("src/.config/settings", "a=1\n");
  dir.file("src/zero.bin", "");
  dir.file("src/chunk-minus-one.bin", testing::patterned_bytes(65'535, 1));
  dir.file("src/chunk.bin", testing::patterned_bytes(65'536, 2));
  dir.file("src/chunk-plus-one.bin", testing::patterned_bytes(65'537, 3));
  dir.file("src/big/several-mib.bin", testing::patterned_bytes(3 * 1024 * 1024 + 17, 4));
  // Names that sort between "big" and "big/..." in plain byte order.
  dir.file("src/big-notes.txt", "n");
  dir.file("src/big.txt", "t");
  dir.file("src/tool.sh", "#!/bin/sh\n", 0755);
  dir.file("src/private", "p", 0600);
  dir.file("src/frozen", "f", 0444);
  dir.file("src/locked/inside.txt", "inside", 0440);
  dir.chmod("src/locked", 0555);
  dir.folder("src/drop", 01777);
  dir.file("src/drop/note", "n");
  const auto before = testing::snapshot_tree(dir / "src");

  const auto result = create_backup_snapshot(dir / "src", dir / "dest");
  ASSERT_TRUE(result.has_value()) << result.error();
  testing::expect_exact_backup(dir / "src", *result);
  EXPECT_EQ(result->files, 14u);
  EXPECT_EQ(result->bytes, 6u + 4 + 0 + 65'535 + 65'536 + 65'537 + (3 * 1024 * 1024 + 17) + 10 + 1 + 1 + 6 + 1 + 2);
  EXPECT_EQ(testing::list_names(dir / "dest").size(), 1u);
  EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(dir / "src")), "");
}

TEST(BackupSnapshot, CopiesASingleFileTargetGivenRelativeToTheWorkingFolder) {
  TempDir dir;
  dir.folder("dest");
  dir.file("work/report.txt", "numbers", 0640);
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir((dir / "work").c_str()), 0);
  const auto result = create_backup_snapshot("./report.txt", "..//dest/");
  ASSERT_EQ(::chdir(previous), 0);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_EQ(result->files, 1u);
  EXPECT_EQ(result->bytes, 7u);
  EXPECT_TRUE(result->folder.starts_with(dir / "dest/Tarnwick-backup-")) << result->folder;
  testing::expect_exact_backup(dir / "work/report.txt", *result);
}

// Group-writable folders of root's own private group, with contents: the
// copy must not refuse the folders it has just created itself.
TEST(BackupSnapshot, BacksUpGroupWritableFoldersWithContents) {
  TempDir dir;
  dir.folder("dest");
  dir.file("src/shared/deeper/file.txt", "x");
  dir.file("src/shared/top.txt", "y");
  dir.chmod("src/shared/deeper", 0775);
  dir.chmod("src/shared", 0775);
  const auto result = create_backup_snapshot(dir / "src", dir / "dest");
  ASSERT_TRUE(result.has_value()) << result.error();
  testing::expect_exact_backup(dir / "src", *result);
  struct stat status {};
  ASSERT_EQ(::lstat((result->folder + "/src/shared/deeper").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0775u);
}

TEST(BackupSnapshot, EachBackupGetsItsOwnFolderAndLeavesOldLeftoversAlone) {
  TempDir dir;
  dir.folder("dest");
  dir.file("src/a.txt", "a");
  const std::string leftover = dir.file("dest/Tarnwick-backup-1-2-3-INCOMPLETE/src/a.txt", "old");
  const auto first = create_backup_snapshot(dir / "src", dir / "dest");
  const auto second = create_backup_snapshot(dir / "src", dir / "dest");
  ASSERT_TRUE(first.has_value()) << first.error();
  ASSERT_TRUE(second.has_value()) << second.error();
  EXPECT_NE(first->folder, second->folder);
  EXPECT_EQ(testing::list_names(dir / "dest").size(), 3u);
  EXPECT_EQ(testing::read_file(leftover), "old");
}

TEST(BackupSnapshot, ReportingTexts) {
  const BackupResult result{"/backups/Tarnwick-backup-1-2-3", 4, 1024};
  EXPECT_EQ(backup_complete_text(result),
            "Backup complete: 4 files / 1024 bytes\n/backups/Tarnwick-backup-1-2-3\n"
            "Your selected files have not been changed.");
  EXPECT_EQ(backup_apply_note(result),
            "\n\nOriginals backed up and verified\n/backups/Tarnwick-backup-1-2-3\n4 files / 1024 bytes\n"
            "The backup keeps original names and data.");
}

// The limit counts the target itself. Copying 50,000 files would measure the
// disk, not the limit, so the accepted case is stopped at the reservation.
TEST(BackupSnapshot, AcceptsFiftyThousandEntriesAndRefusesOneMore) {
  TempDir dir;
  dir.folder("dest");
  dir.folder("src");
  ASSERT_EQ(testing::run_command("cd '" + dir / "src" + "' && seq 1 49999 | xargs touch"), 0);
  {
    sys::testing::ScopedFaults faults(
        sys::testing::Fault{.call_number = 1, .error = EROFS, .only = sys::Call::Mkdir});
    const auto accepted = create_backup_snapshot(dir / "src", dir / "dest");
    ASSERT_FALSE(accepted.has_value());
    EXPECT_TRUE(accepted.error().starts_with("Cannot create unique backup directory: ")) << accepted.error();
  }
  dir.file("src/one-more");
  const auto refused = create_backup_snapshot(dir / "src", dir / "dest");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "Complete backup exceeds 50,000 entries; no source files were changed.");
  EXPECT_TRUE(testing::list_names(dir / "dest").empty());
}

TEST(BackupSnapshot, GivesUpAfter128NameCollisions) {
  TempDir dir;
  dir.folder("dest");
  dir.file("src/a.txt", "a");
  sys::testing::ScopedFaults faults(
      sys::testing::Fault{.call_number = 1, .error = EEXIST, .persistent = true, .only = sys::Call::Mkdir});
  const auto result = create_backup_snapshot(dir / "src", dir / "dest");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Cannot reserve a unique backup directory.");
  EXPECT_EQ(sys::testing::calls_made(sys::Call::Mkdir), 128u);
}

}  // namespace
}  // namespace tarnwick
