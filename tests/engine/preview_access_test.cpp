// The preview refuses what the apply could not do for the user the program
// runs as: folders it may not write, files it may not replace, immutable and
// append-only entries, read-only mounts, sticky folders of someone else.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/fs_testing.h"
#include "common/text.h"
#include "engine/apply_access.h"
#include "engine/apply_support.h"

namespace tarnwick {
namespace {

using sys::Call;
using sys::testing::Fault;
using sys::testing::ScopedFaults;
using testing::TempDir;

OperationRequest rename_and_edit(const std::string& target) {
  OperationRequest request;
  request.target = target;
  request.find = "old";
  request.replacement = "new";
  request.match_case = true;
  request.edit_contents = true;
  return request;
}

// The preview's failure text, or "changes: {n}" for a plan.
std::string preview_outcome(const std::string& target) {
  const PreviewFinished finished = run_preview(rename_and_edit(target));
  if (!finished.plan) return finished.plan.error();
  return "changes: " + std::to_string(finished.plan->changes.size());
}

void chown_to_nobody(const std::string& path) { ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0) << path; }

class PreviewAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to chown, chattr, mount and drop privileges";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  }
  TempDir dir;
};

TEST_F(PreviewAccess, AnOrdinaryUserIsRefusedWhatTheApplyCouldNotDo) {
  struct Case {
    const char* name;
    std::function<void(TempDir&)> build;  // the tree t, as root
    const char* refused;                  // the path the refusal names, or nullptr for a plan
  };
  const Case cases[] = {
      {"a folder of root with mode 0755 holding a file to rename",
       [](TempDir& d) { d.file("t/a_old", "a", 0666); }, "t"},
      {"a folder of root with mode 0755 holding a file to edit",
       [](TempDir& d) { d.file("t/x.txt", "old", 0666); }, "t"},
      {"a file of root with mode 0644 to edit in the user's folder",
       [](TempDir& d) {
         d.file("t/x.txt", "old", 0644);
         chown_to_nobody(d / "t");
       },
       "t/x.txt"},
      {"a file of root to rename in a sticky folder open to all",
       [](TempDir& d) {
         d.file("t/b_old", "b", 0666);
         d.chmod("t", 01777);
       },
       "t/b_old"},
      {"the user's own files in a sticky folder open to all",
       [](TempDir& d) {
         chown_to_nobody(d.file("t/b_old", "old", 0644));
         d.chmod("t", 01777);
       },
       nullptr},
      {"the user's own tree in a folder of root",
       [](TempDir& d) {
         chown_to_nobody(d.file("t/sub/c_old", "old", 0644));
         chown_to_nobody(d / "t/sub");
         chown_to_nobody(d / "t");
       },
       nullptr},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempDir fresh;
    ASSERT_EQ(::chmod(fresh.path().c_str(), 0755), 0);
    test.build(fresh);
    const std::string target = fresh / "t";
    const auto before = testing::snapshot_tree(fresh.path());
    const std::string text = testing::text_from_child([&] {
      if (!testing::become_nobody()) return std::string("cannot become nobody");
      return preview_outcome(target);
    });
    if (test.refused != nullptr) {
      EXPECT_EQ(text, read_only_text(fresh / test.refused));
    } else {
      EXPECT_TRUE(text.starts_with("changes: ")) << text;
    }
    EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(fresh.path())), "");
    // The same tree is no obstacle to root, whom permissions do not stop.
    EXPECT_TRUE(preview_outcome(target).starts_with("changes: ")) << preview_outcome(target);
  }
}

TEST_F(PreviewAccess, ImmutableAndAppendOnlyEntriesAreRefusedWithTheirPath) {
  struct Case {
    const char* attribute;
    const char* entry;
  };
  const Case cases[] = {
      {"+i", "t/a_old"},   // a file to rename
      {"+i", "t/x.txt"},   // a file to edit
      {"+a", "t/x.txt"},
      {"+i", "t/sub"},     // the folder of a file to rename
      {"+a", "t/sub"},     // its names can be added to, not taken away
      {"+i", "t/dir_old"}, // a folder to rename
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(std::string(test.attribute) + " " + test.entry);
    TempDir fresh;
    fresh.file("t/a_old", "a");
    fresh.file("t/x.txt", "old");
    fresh.file("t/sub/g_old", "g");
    fresh.folder("t/dir_old");
    const std::string entry = fresh / test.entry;
    if (testing::run_command(std::string("chattr ") + test.attribute + " " + entry) != 0) {
      GTEST_SKIP() << "chattr is not available on this filesystem";
    }
    const std::string text = preview_outcome(fresh / "t");
    testing::run_command("chattr -ia " + entry);
    EXPECT_EQ(text, read_only_text(entry));
    EXPECT_EQ(preview_outcome(fresh / "t"), "changes: 4");
  }
}

// A private mount namespace in which the folder is a read-only bind mount;
// "" on success, else the reason it cannot be made here.
std::string enter_read_only_mount(const std::string& folder) {
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
      ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    return os_error_text(errno);
  }
  return {};
}

TEST(PreviewReadOnlyMount, AFolderOnAReadOnlyMountIsRefusedWithItsPath) {
  TempDir dir;
  dir.file("t/a_old", "a");
  dir.file("t/keep/k.txt", "k");
  const std::string text = testing::text_from_child([&] {
    if (std::string refused = enter_read_only_mount(dir / "t"); !refused.empty()) return "SKIP: " + refused;
    const std::string refused = preview_outcome(dir / "t");
    const std::string untouched = preview_outcome(dir / "t/keep");  // nothing matches: nothing to write
    return refused + "\n--\n" + untouched;
  });
  if (text.starts_with("SKIP: ")) GTEST_SKIP() << "no read-only bind mount here: " << text.substr(6);
  EXPECT_EQ(text, read_only_text(dir / "t") + "\n--\nchanges: 0");
}

// The new calls fail in turn: a system error names the path it concerns; a
// refusal reads as the read-only message; a filesystem without inode flags,
// or an entry the user may not open, blocks nothing.
TEST(PreviewAccessFaults, EachNewCallFailsWithItsPathOrPassesWhereNothingIsKnown) {
  TempDir dir;
  dir.file("t/a_old", "a");
  dir.file("t/x.txt", "old");
  dir.file("t/sub/c_old", "c");
  dir.symlink("t/link", "a_old");
  const std::string target = dir / "t";
  {
    ScopedFaults counting;
    ASSERT_EQ(preview_outcome(target), "changes: 3");
    // One access check per distinct folder (t, t/sub) and one per edited file.
    EXPECT_EQ(sys::testing::calls_made(Call::Faccessat), 3u);
  }
  struct Kind {
    Call call;
    int error;
    const char* outcome;  // "path" for the system error with a path, "read-only", or a plan
  };
  const Kind kinds[] = {
      {Call::Faccessat, EIO, "path"},        {Call::Faccessat, EACCES, "read-only"},
      {Call::Faccessat, EROFS, "read-only"}, {Call::InodeFlags, EIO, "path"},
      {Call::InodeFlags, ENOENT, "path"},    {Call::InodeFlags, ENOTTY, "changes: 3"},
      {Call::InodeFlags, EACCES, "changes: 3"}, {Call::Readlink, EIO, "path"},
  };
  int injection_points = 0;
  for (const Kind& kind : kinds) {
    std::uint64_t calls = 0;
    {
      ScopedFaults counting;
      ASSERT_EQ(preview_outcome(target), "changes: 3");
      calls = sys::testing::calls_made(kind.call);
    }
    EXPECT_GT(calls, 0u) << sys::call_name(kind.call);
    for (std::uint64_t n = 1; n <= calls; ++n) {
      ++injection_points;
      ScopedFaults faults(Fault{.call_number = n, .error = kind.error, .only = kind.call});
      const std::string text = preview_outcome(target);
      SCOPED_TRACE(std::string(sys::call_name(kind.call)) + " call " + std::to_string(n) + ": " + text);
      const std::size_t path_at = text.find("\nPath: ");
      const std::string path = path_at == std::string::npos ? "" : text.substr(path_at + 7);
      if (std::string_view(kind.outcome) == "path") {
        EXPECT_EQ(text, path_error("Cannot inspect entry", kind.error, path));
        EXPECT_TRUE(path.starts_with(target)) << path;
      } else if (std::string_view(kind.outcome) == "read-only") {
        EXPECT_EQ(text, read_only_text(path));
        EXPECT_TRUE(path.starts_with(target)) << path;
      } else {
        EXPECT_EQ(text, kind.outcome);
      }
    }
  }
  std::printf("preview access fault injection points: %d\n", injection_points);
}

}  // namespace
}  // namespace tarnwick
