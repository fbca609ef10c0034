// Stage files are all written, then made durable by one flush of their
// filesystem before the first install; a failed flush rolls the apply back.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tarnwick
