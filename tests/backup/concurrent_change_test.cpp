// Another process changing the source or the backup while a backup runs
// (simulated through the filesystem layer's callback), and the cleanup that
// follows: it removes what the backup made and nothing else.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "backup/backup.h"
#include "backup_support.h"
#include "common/fs_testing.h"

namespace tarnwick {
namespace {

using testing::TempDir;

constexpr std::size_t kFileBytes = 100'000;  // two copy chunks
constexpr const char* kRemoved = "\nIncomplete backup removed. Original files were not changed.";

std::string incomplete_folder(const std::string& destination) {
  for (const std::string& name : testing::list_names(destination)) {
    if (name.ends_with("-INCOMPLETE")) return destination + "/" + name;
  }
  ADD_FAILURE() << "no incomplete backup folder in " << destination;
  return destination + "/missing";
}

void append(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

class BackupConcurrentChange : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.folder("dest");
    source_file_ = dir_.file("src/a.bin", testing::patterned_bytes(kFileBytes, 7));
  }
  // Runs the backup with callback run just before the backup's first write.
  Result<BackupResult> backup_with_change_at_first_write(std::function<void()> callback) {
    sys::testing::ScopedFaults faults;
    sys::testing::on_call(1, std::move(callback), sys::Call::Write);
    return create_backup_snapshot(dir_ / "src", dir_ / "dest");
  }
  TempDir dir_;
  std::string source_file_;
};

TEST_F(BackupConcurrentChange, FileThatGrowsIsRefusedAndTheBackupRemoved) {
  const auto result = backup_with_change_at_first_write([&] { append(source_file_, "more"); });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(),
            "Backup source or copied length changed: snapshot refused\nPath: " + source_file_ + kRemoved);
  EXPECT_TRUE(testing::list_names(dir_ / "dest").empty());
}

TEST_F(BackupConcurrentChange, FileWhoseModificationTimeChangesIsRefused) {
  const auto result = backup_with_change_at_first_write(
      [&] { ASSERT_EQ(testing::run_command("touch -d 2001-02-03 '" + source_file_ + "'"), 0); });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Open backup source changed: operation stopped\nPath: " + source_file_ + kRemoved);
  EXPECT_TRUE(testing::list_names(dir_ / "dest").empty());
}

TEST_F(BackupConcurrentChange, FileAddedToAFolderIsRefused) {
  const auto result = backup_with_change_at_first_write([&] { dir_.file("src/new.txt", "new"); });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(),
            std::string("Complete backup source tree changed during copying; no source files were changed.") +
                kRemoved);
  EXPECT_TRUE(testing::list_names(dir_ / "dest").empty());
}

// Same size and modification time, different bytes, changed after the copy:
// only the read-back comparison can notice.
TEST_F(BackupConcurrentChange, BytesChangedBehindTheMetadataFailVerification) {
  const std::string reference = dir_.file("reference");
  ASSERT_EQ(testing::run_command("touch -r '" + source_file_ + "' '" + reference + "'"), 0);
  sys::testing::ScopedFaults faults;
  // Reads 1-3 copy the file (two chunks and the probe for one more byte).
  sys::testing::on_call(
      4,
      [&] {
        std::string bytes = testing::patterned_bytes(kFileBytes, 7);
        bytes[kFileBytes / 2] ^= 1;
        testing::write_file(source_file_, bytes);
        ASSERT_EQ(testing::run_command("touch -r '" + reference + "' '" + source_file_ + "'"), 0);
      },
      sys::Call::Read);
  const auto result = create_backup_snapshot(dir_ / "src", dir_ / "dest");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(),
            "Backup byte verification failed: source and snapshot differ\nPath: " + source_file_ + kRemoved);
  EXPECT_TRUE(testing::list_names(dir_ / "dest").empty());
}

TEST_F(BackupConcurrentChange, CleanupLeavesAFileItDidNotCreateAndSaysWhere) {
  std::string container;
  std::string intruder;
  const auto result = backup_with_change_at_first_write([&] {
    container = incomplete_folder(dir_ / "dest");
    intruder = container + "/src/intruder.txt";
    testing::write_file(intruder, "not the backup's");
    append(source_file_, "more");
  });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Backup source or copied length changed: snapshot refused\nPath: " + source_file_ +
                                "\nOriginal files were not changed. Incomplete backup remains at " + container +
                                ". Preserve or remove it manually:\n"
                                "Could not remove incomplete backup entry: Directory not empty (os error 39)\nPath: " +
                                container + "/src\n" +
                                "Could not remove incomplete backup directory: Directory not empty (os error 39)\n"
                                "Path: " +
                                container);
  EXPECT_EQ(testing::read_file(intruder), "not the backup's");
  EXPECT_EQ(testing::list_names(container + "/src"), std::vector<std::string>{"intruder.txt"});
}

// Without any other change the planted file alone makes the backup no copy.
TEST_F(BackupConcurrentChange, EntryPlantedInTheBackupRefusesIt) {
  std::string container;
  const auto result = backup_with_change_at_first_write([&] {
    container = incomplete_folder(dir_ / "dest");
    testing::write_file(container + "/src/planted.txt", "planted");
  });
  ASSERT_FALSE(result.has_value());
  EXPECT_TRUE(result.error().starts_with("Backup folder holds entries this backup did not create: snapshot "
                                         "refused\nPath: " +
                                         container + "/src/planted.txt\nOriginal files were not changed."))
      << result.error();
  EXPECT_EQ(testing::list_names(container + "/src"), std::vector<std::string>{"planted.txt"});
}

TEST_F(BackupConcurrentChange, ReplacedContainerIsNotTouched) {
  std::string container;
  const auto result = backup_with_change_at_first_write([&] {
    container = incomplete_folder(dir_ / "dest");
    ASSERT_EQ(std::rename(container.c_str(), (dir_ / "moved").c_str()), 0);
    dir_.file(container.substr(dir_.path().size() + 1) + "/theirs.txt", "theirs");
  });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Backup container identity changed: operation stopped\nPath: " + container +
                                "\nOriginal files were not changed. Incomplete backup remains at " + container +
                                ". Preserve or remove it manually:\n"
                                "Incomplete backup directory identity changed: cleanup refused; preserve this "
                                "location\nPath: " +
                                container);
  EXPECT_EQ(testing::list_names(container), std::vector<std::string>{"theirs.txt"});
  EXPECT_EQ(testing::list_names(dir_ / "moved/src"), std::vector<std::string>{"a.bin"});
}

TEST_F(BackupConcurrentChange, ExistingFinalNameIsNeverReplaced) {
  std::string container;
  std::string final_name;
  const auto result = backup_with_change_at_first_write([&] {
    container = incomplete_folder(dir_ / "dest");
    final_name = container.substr(0, container.size() - std::string("-INCOMPLETE").size());
    dir_.file(final_name.substr(dir_.path().size() + 1) + "/keep.txt", "keep");
  });
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Cannot finalize verified backup without overwrite: File exists (os error 17)\nPath: " +
                                container + kRemoved);
  EXPECT_EQ(testing::list_names(dir_ / "dest"), std::vector<std::string>{final_name.substr(final_name.rfind('/') + 1)});
  EXPECT_EQ(testing::read_file(final_name + "/keep.txt"), "keep");
}

// A file swapped for a fifo right before the verification opens it: the open
// does not wait for a writer, and the identity check refuses what it opened.
TEST_F(BackupConcurrentChange, FifoSwappedInBeforeTheVerificationOpenNeitherHangsNorPasses) {
  std::uint64_t verification_open = 0;
  {
    TempDir scratch;
    scratch.folder("dest");
    const std::string file = scratch.file("src/a.bin", "x");
    sys::testing::ScopedFaults faults;
    sys::testing::record_calls();
    ASSERT_TRUE(create_backup_snapshot(scratch / "src", scratch / "dest").has_value());
    int source_opens = 0;
    for (const sys::testing::RecordedCall& call : sys::testing::recorded_calls()) {
      if (call.call != sys::Call::Open) continue;
      ++verification_open;
      if (call.subject == file && ++source_opens == 2) break;
    }
    ASSERT_EQ(source_opens, 2) << "the copy's open, then the verification's";
  }
  sys::testing::ScopedFaults faults;
  sys::testing::on_call(verification_open, [&] {
    ASSERT_EQ(::unlink(source_file_.c_str()), 0);
    ASSERT_EQ(::mkfifo(source_file_.c_str(), 0644), 0);
  }, sys::Call::Open);
  ::alarm(60);  // a blocking open would end the test program here
  const auto result = create_backup_snapshot(dir_ / "src", dir_ / "dest");
  ::alarm(0);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Open backup source changed: operation stopped\nPath: " + source_file_ + kRemoved);
  EXPECT_TRUE(testing::list_names(dir_ / "dest").empty());
}

// A backup is reported complete only once every folder it created and the
// destination holding its final name are on stable storage.
TEST(BackupDurability, FlushesEveryFileAndFolderAndTheDestination) {
  TempDir dir;
  dir.folder("dest");
  dir.file("src/one.txt", "1");
  dir.file("src/sub/two.txt", "2");
  sys::testing::ScopedFaults faults;
  const auto result = create_backup_snapshot(dir / "src", dir / "dest");
  ASSERT_TRUE(result.has_value()) << result.error();
  // two folders, the container, the destination; the files in one flush of the filesystem
  EXPECT_EQ(sys::testing::calls_made(sys::Call::Fsync), 4u);
  EXPECT_EQ(sys::testing::calls_made(sys::Call::Syncfs), 1u);
}

TEST(BackupDurability, UnflushableDestinationTakesTheFinishedBackupBack) {
  TempDir dir;
  dir.folder("dest");
  dir.file("src/one.txt", "1");
  sys::testing::ScopedFaults faults(
      sys::testing::Fault{.call_number = 3, .error = EIO, .only = sys::Call::Fsync});
  const auto result = create_backup_snapshot(dir / "src", dir / "dest");
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), "Cannot flush backup data: Input/output error (os error 5)\nPath: " + dir / "dest" +
                                kRemoved);
  EXPECT_TRUE(testing::list_names(dir / "dest").empty());
}

}  // namespace
}  // namespace tarnwick
