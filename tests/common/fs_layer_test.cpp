// The filesystem layer: errors as values, fault injection by call number and kind.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <utility>
#include <vector>

#include "common/fs.h"
#include "common/fs_testing.h"
#include "common/text.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

using testing::TempDir;

TEST(FsLayer, ReportsRealErrnoAndInjectedFaults) {
  TempDir dir;
  dir.file("a.txt", "hello");
  EXPECT_EQ(sys::lstat(dir / "missing").error(), ENOENT);
  ASSERT_TRUE(sys::lstat(dir / "a.txt").has_value());

  sys::testing::ScopedFaults faults(sys::testing::Fault{.call_number = 2, .error = EIO});
  EXPECT_TRUE(sys::lstat(dir / "a.txt").has_value());
  EXPECT_EQ(sys::lstat(dir / "a.txt").error(), EIO);
  EXPECT_TRUE(sys::lstat(dir / "a.txt").has_value()) << "a fault that is not persistent fires once";
  EXPECT_EQ(sys::testing::calls_made(), 3u);
  EXPECT_EQ(sys::testing::faults_fired(), 1u);
}

TEST(FsLayer, PersistentFaultOfOneKindLeavesOtherCallsAlone) {
  TempDir dir;
  dir.file("a.txt", "hello");
  sys::testing::ScopedFaults faults(
      sys::testing::Fault{.call_number = 1, .error = ENOSPC, .persistent = true, .only = sys::Call::Write});
  auto fd = sys::open(dir / "b.txt", O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  ASSERT_TRUE(fd.has_value());
  EXPECT_EQ(sys::write(fd->get(), "x", 1).error(), ENOSPC);
  EXPECT_EQ(sys::write(fd->get(), "x", 1).error(), ENOSPC);
  EXPECT_TRUE(sys::fsync(fd->get()).has_value());
  EXPECT_EQ(sys::testing::calls_made(sys::Call::Write), 2u);
}

TEST(FsLayer, CallbackRunsBeforeTheNumberedCall) {
  TempDir dir;
  const std::string path = dir.file("a.txt", "one");
  sys::testing::ScopedFaults faults;
  sys::testing::on_call(2, [&] { testing::write_file(path, "changed"); });
  EXPECT_EQ(sys::lstat(path)->st_size, 3);
  EXPECT_EQ(sys::lstat(path)->st_size, 7);
}

TEST(FsLayer, DirectoryListingSkipsDotsAndRefusesLinks) {
  TempDir dir;
  dir.file("d/x");
  dir.file("d/y");
  dir.symlink("link", dir / "d");
  auto directory = sys::opendir(dir / "d");
  ASSERT_TRUE(directory.has_value());
  int count = 0;
  while (auto entry = directory->next()) {
    if (!entry->has_value()) break;
    ++count;
  }
  EXPECT_EQ(count, 2);
  EXPECT_EQ(sys::opendir(dir / "link").error(), ENOTDIR);  // O_DIRECTORY wins over O_NOFOLLOW
  EXPECT_EQ(sys::open(dir / "link", O_RDONLY | O_NOFOLLOW).error(), ELOOP);
}

TEST(FsLayer, RenameNeverReplaces) {
  TempDir dir;
  dir.file("a", "a");
  dir.file("b", "b");
  EXPECT_EQ(sys::rename_noreplace(dir / "a", dir / "b").error(), EEXIST);
  EXPECT_EQ(testing::read_file(dir / "b"), "b");
  EXPECT_TRUE(sys::rename_noreplace(dir / "a", dir / "c").has_value());
}

TEST(FsLayer, InterruptedCallsAreRetriedAndNeverReachTheCaller) {
  TempDir dir;
  const std::string file = dir.file("a", "data");
  const std::string folder = dir.folder("d");
  // Each step, interrupted once at its first call, still succeeds.
  const std::vector<std::pair<const char*, std::function<bool()>>> steps = {
      {"open", [&] { return sys::open(file, O_RDONLY).has_value(); }},
      {"lstat", [&] { return sys::lstat(file).has_value(); }},
      {"rename", [&] { return sys::rename_noreplace(file, file + "2").has_value() && ::rename((file + "2").c_str(), file.c_str()) == 0; }},
      {"mkdir", [&] { return sys::mkdir(folder + "/m", 0700).has_value(); }},
      {"rmdir", [&] { return sys::rmdir(folder + "/m").has_value(); }},
      {"realpath", [&] { return sys::realpath(file).has_value(); }},
      {"opendir", [&] { return sys::opendir(folder).has_value(); }},
      {"without links", [&] { return sys::open_without_links(file, O_RDONLY).has_value(); }},
  };
  for (const auto& [name, step] : steps) {
    sys::testing::ScopedFaults faults(sys::testing::Fault{.call_number = 1, .error = EINTR});
    EXPECT_TRUE(step()) << name;
    EXPECT_EQ(sys::testing::faults_fired(), 1u) << name;
  }
  const auto fd = sys::open(file, O_RDONLY);
  ASSERT_TRUE(fd);
  char buffer[8];
  sys::testing::ScopedFaults faults(sys::testing::Fault{.call_number = 1, .error = EINTR, .only = sys::Call::Read});
  EXPECT_EQ(sys::read(fd->get(), buffer, sizeof buffer), 4u);
  EXPECT_EQ(sys::testing::calls_made(sys::Call::Read), 2u) << "the interrupted read and its retry";
}

TEST(FsLayer, OpenWithoutLinksRefusesALinkInAnyComponentBothWays) {
  TempDir dir;
  dir.file("real/sub/f", "f");
  dir.symlink("link", dir / "real");
  dir.symlink("real/sub/last", dir / "real/sub/f");
  for (const bool walk : {false, true}) {
    SCOPED_TRACE(walk ? "component by component" : "openat2");
    sys::testing::force_component_walk(walk);
    EXPECT_TRUE(sys::open_without_links(dir / "real/sub/f", O_RDONLY).has_value());
    EXPECT_TRUE(sys::open_without_links(dir / "real//sub/./", O_PATH | O_DIRECTORY).has_value());
    EXPECT_EQ(sys::open_without_links(dir / "link/sub/f", O_RDONLY).error(), ELOOP);
    EXPECT_EQ(sys::open_without_links(dir / "link", O_PATH | O_DIRECTORY).error(), ELOOP);
    EXPECT_EQ(sys::open_without_links(dir / "real/sub/last", O_RDONLY).error(), ELOOP);
    EXPECT_EQ(sys::open_without_links(dir / "real/missing/f", O_RDONLY).error(), ENOENT);
  }
  sys::testing::force_component_walk(false);
}

TEST(FsLayer, CallsRelativeToOpenFoldersAndRecordedCallsNameWhatTheyActOn) {
  TempDir dir;
  const std::string folder = dir.folder("d");
  dir.file("d/a", "a");
  dir.file("d/b", "b");
  const auto fd = sys::open_without_links(folder, O_PATH | O_DIRECTORY);
  ASSERT_TRUE(fd);
  sys::testing::ScopedFaults faults(std::vector<sys::testing::Fault>{
      {.call_number = 2, .error = EIO, .only = sys::Call::Unlink},
      {.call_number = 3, .error = ENOSPC}});
  sys::testing::record_calls();
  EXPECT_EQ(sys::rename_noreplace_at(fd->get(), "a", fd->get(), "b").error(), EEXIST);
  EXPECT_TRUE(sys::rename_noreplace_at(fd->get(), "a", fd->get(), "c").has_value());
  EXPECT_EQ(sys::unlinkat(fd->get(), "c", 0).error(), ENOSPC) << "the third call of any kind";
  EXPECT_EQ(sys::unlinkat(fd->get(), "c", 0).error(), EIO) << "the second unlink";
  EXPECT_TRUE(sys::unlinkat(fd->get(), "c", 0).has_value());
  EXPECT_TRUE(sys::syncfs(fd->get()).error() == EBADF) << "an O_PATH descriptor reaches no filesystem";
  const std::vector<sys::testing::RecordedCall> expected = {
      {sys::Call::Rename, folder + "/a"}, {sys::Call::Rename, folder + "/a"}, {sys::Call::Unlink, folder + "/c"},
      {sys::Call::Unlink, folder + "/c"}, {sys::Call::Unlink, folder + "/c"}, {sys::Call::Syncfs, folder}};
  EXPECT_EQ(sys::testing::recorded_calls(), expected);
  EXPECT_EQ(sys::testing::faults_fired(), 2u);
}

TEST(PathForm, RendersErrnoAndReplacesInvalidPathBytes) {
  EXPECT_EQ(os_error_text(ENOENT), "No such file or directory (os error 2)");
  EXPECT_EQ(path_error("Cannot inspect selected path", EACCES, "/tmp/M\xfcller"),
            "Cannot inspect selected path: Permission denied (os error 13)\nPath: /tmp/M\xEF\xBF\xBDller");
  EXPECT_EQ(path_form("Selection changed since preview", "create a fresh preview", "/a"),
            "Selection changed since preview: create a fresh preview\nPath: /a");
  EXPECT_EQ(path_line("An earlier apply was interrupted here.", "/a/\xff"),
            "An earlier apply was interrupted here.\nPath: /a/\xEF\xBF\xBD");
}

TEST(Utf8, ValidityAndLossyReplacementFollowMaximalSubparts) {
  EXPECT_TRUE(is_valid_utf8("plain \xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\xC0\x80"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_EQ(lossy_utf8("a\xF0\x9F\x98z"), "a\xEF\xBF\xBDz");
  EXPECT_EQ(lossy_utf8("\xE0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace tarnwick
