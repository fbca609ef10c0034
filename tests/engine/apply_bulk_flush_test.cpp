// Stage files are all written, then made durable by one flush of their
// filesystem before the first install; a failed flush rolls the apply back.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/fs_testing.h"
#include "common/text.h"
#include "engine/apply_support.h"

namespace tarnwick {
namespace {

using sys::Call;
using sys::testing::Fault;
using sys::testing::RecordedCall;
using sys::testing::ScopedFaults;
using testing::TempDir;

constexpr const char* kRolledBack = "\nApplied changes were rolled back.";

std::string make_tree(TempDir& dir) {
  dir.file("t/a/one_old.txt", "old one");
  dir.file("t/two.txt", "two old");
  dir.file("t/b/c/three.txt", "the old three");
  dir.folder("dest");
  return dir / "t";
}

TEST(ApplyBulkFlush, EveryStageFileIsWrittenAndFlushedBeforeTheFirstInstall) {
  TempDir dir;
  const PreviewPlan plan = testing::plan_of(make_tree(dir), "old", "new");
  std::vector<RecordedCall> calls;
  {
    ScopedFaults faults;
    sys::testing::record_calls();
    ASSERT_EQ(testing::failure_text(run_apply(plan, std::nullopt)), "");
    calls = sys::testing::recorded_calls();
  }
  const auto at = [&](auto found) { return static_cast<std::size_t>(found - calls.begin()); };
  const std::size_t first_install =
      at(std::find_if(calls.begin(), calls.end(), [](const RecordedCall& call) { return call.call == Call::Rename; }));
  const std::size_t flush =
      at(std::find_if(calls.begin(), calls.end(), [](const RecordedCall& call) { return call.call == Call::Syncfs; }));
  ASSERT_LT(flush, first_install);
  std::vector<std::string> staged;
  for (std::size_t index = 0; index < calls.size(); ++index) {
    const RecordedCall& call = calls[index];
    if (call.subject.ends_with("-stage")) {
      EXPECT_NE(call.call, Call::Fsync) << "a stage file flushed on its own: " << call.subject;
      if (call.call == Call::Write) {
        EXPECT_LT(index, flush) << "written after the flush: " << call.subject;
        staged.push_back(call.subject);
      }
    }
    if (index > flush && index < first_install) {
      EXPECT_NE(call.call, Call::Syncfs);
      EXPECT_FALSE(call.call == Call::Fsync && call.subject.ends_with("-journal"))
          << "the journal's staged lines went to disk with the stage files";
    }
  }
  std::sort(staged.begin(), staged.end());
  staged.erase(std::unique(staged.begin(), staged.end()), staged.end());
  EXPECT_EQ(staged.size(), 3u);
  EXPECT_TRUE(calls[flush].subject.ends_with("-journal")) << "the journal's descriptor, open before any stage file";
  EXPECT_EQ(testing::read_file(dir / "t/b/c/three.txt"), "the new three");
}

// A write-back error reported by the flush of the stage files, or by the
// backup's flush before them: nothing stays changed, nothing is reported done.
TEST(ApplyBulkFlush, WriteBackErrorReportedByTheFlushLeavesEverythingAsItWas) {
  for (const bool with_backup : {false, true}) {
    for (std::uint64_t failing = 1; failing <= (with_backup ? 2u : 1u); ++failing) {
      SCOPED_TRACE((with_backup ? "with backup, syncfs " : "syncfs ") + std::to_string(failing));
      TempDir dir;
      const PreviewPlan plan = testing::plan_of(make_tree(dir), "old", "new");
      const auto before = testing::snapshot_tree(dir / "t");
      const std::optional<std::string> destination =
          with_backup ? std::optional<std::string>(dir / "dest") : std::nullopt;
      std::string text;
      {
        ScopedFaults faults(Fault{.call_number = failing, .error = EIO, .only = Call::Syncfs});
        text = testing::failure_text(run_apply(plan, destination));
      }
      const std::string error = "Input/output error (os error 5)\nPath: ";
      if (with_backup && failing == 1) {
        EXPECT_TRUE(text.starts_with("Cannot flush backup data: " + error + dir / "dest/Tarnwick-backup-")) << text;
        EXPECT_TRUE(text.ends_with("-INCOMPLETE\nIncomplete backup removed. Original files were not changed.")) << text;
      } else {
        EXPECT_TRUE(text.starts_with("Cannot flush replacement: " + error + dir / "t/")) << text;
        EXPECT_NE(text.find("-stage" + std::string(kRolledBack)), std::string::npos) << text;
        EXPECT_EQ(text.find("Complete original backup retained at: ") != std::string::npos, with_backup) << text;
      }
      EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(dir / "t")), "");
      EXPECT_TRUE(testing::hidden_files(testing::snapshot_tree(dir / "t")).empty());
      // A backup that failed its flush is removed; one made before a failed apply is kept.
      EXPECT_EQ(testing::snapshot_tree(dir / "dest").size() == 1u, !(with_backup && failing == 2));
    }
  }
}

// In a mount namespace of its own, t/b becomes a tmpfs holding one edited file
// and one renamed folder with an edited file: t spans two filesystems.
std::string span_two_filesystems(const TempDir& dir) {
  if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      ::mount("tmpfs", (dir / "t/b").c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) {
    return "SKIP: cannot mount a tmpfs here";
  }
  testing::write_file(dir / "t/b/four.txt", "old four");
  if (::mkdir((dir / "t/b/c_old").c_str(), 0755) != 0) return "mkdir failed";
  testing::write_file(dir / "t/b/c_old/three.txt", "the old three");
  return "";
}

std::uint64_t device_of(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_dev : 0;
}

// Each filesystem holding stage files is flushed once before the first
// install, through a descriptor on that filesystem opened before its first
// stage file was written; a write-back error on either rolls everything back.
TEST(ApplyBulkFlush, StageFilesOnTwoFilesystemsAreFlushedOncePerFilesystem) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a tmpfs in a namespace of its own";
  for (std::uint64_t failing = 0; failing <= 2; ++failing) {
    SCOPED_TRACE("syncfs failing: " + std::to_string(failing));
    TempDir dir;
    make_tree(dir);
    const std::string text = testing::text_from_child([&]() -> std::string {
      if (std::string refused = span_two_filesystems(dir); !refused.empty()) return refused;
      if (device_of(dir / "t/b") == device_of(dir / "t")) return "SKIP: the tmpfs shares the device number";
      const PreviewPlan plan = testing::plan_of(dir / "t", "old", "new");
      const auto before = testing::snapshot_tree(dir / "t");
      std::vector<RecordedCall> calls;
      std::string failure;
      {
        ScopedFaults faults(failing == 0 ? std::nullopt
                                         : std::optional<Fault>(Fault{.call_number = failing, .error = EIO,
                                                                      .only = Call::Syncfs}));
        sys::testing::record_calls();
        failure = testing::failure_text(run_apply(plan, std::nullopt));
        calls = sys::testing::recorded_calls();
      }
      std::string problems;
      const auto after = testing::snapshot_tree(dir / "t");
      if (!testing::hidden_files(after).empty()) problems += "hidden files left\n";
      // In walk order the first stage file on the tmpfs is the one beside t/b/c_old/three.txt.
      const std::string first_on_tmpfs = dir / "t/b/c_old/.tarnwick-";
      if (failing != 0) {
        const std::string lead = "Cannot flush replacement: Input/output error (os error 5)\nPath: ";
        if (!failure.starts_with(lead + (failing == 1 ? dir / "t/a/.tarnwick-" : first_on_tmpfs)) ||
            !failure.ends_with("-stage" + std::string(kRolledBack))) {
          problems += "text: " + failure + "\n";
        }
        if (!testing::describe_difference(before, after).empty()) problems += "tree changed\n";
        return problems;
      }
      if (!failure.empty()) return failure;
      const auto first_install = std::find_if(calls.begin(), calls.end(),
                                              [](const RecordedCall& call) { return call.call == Call::Rename; });
      std::vector<std::string> flushed;
      for (auto call = calls.begin(); call != first_install; ++call) {
        if (call->call == Call::Syncfs) flushed.push_back(call->subject);
      }
      // The journal lies in t, on the first filesystem; the tmpfs is reached
      // through its first stage file.
      if (flushed.size() != 2 || !flushed[0].ends_with("-journal") || !flushed[1].starts_with(first_on_tmpfs) ||
          !flushed[1].ends_with("-stage")) {
        problems += "flushes before the first install:";
        for (const std::string& subject : flushed) problems += " " + subject;
        problems += "\n";
      }
      if (testing::read_file(dir / "t/b/c_new/three.txt") != "the new three" ||
          testing::read_file(dir / "t/b/four.txt") != "new four" || testing::read_file(dir / "t/two.txt") != "two new") {
        problems += "not applied\n";
      }
      return problems;
    });
    if (text.starts_with("SKIP: ")) GTEST_SKIP() << text.substr(6);
    EXPECT_EQ(text, "");
  }
}

}  // namespace
}  // namespace tarnwick
