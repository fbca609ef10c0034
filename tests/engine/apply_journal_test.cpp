// The apply's journal, folder flushes and rollback on real trees: what is
// flushed before success, what a swapped folder cannot reach, and texts that
// name every file not where it belongs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "common/fs_testing.h"
#include "engine/apply_support.h"
#include "engine/preview_support.h"

namespace tarnwick {
namespace {

using sys::Call;
using sys::testing::Fault;
using sys::testing::RecordedCall;
using sys::testing::ScopedFaults;
using testing::TempDir;

constexpr const char* kRolledBack = "\nApplied changes were rolled back.";

std::vector<RecordedCall> calls_of_apply(const PreviewPlan& plan, std::string& text) {
  ScopedFaults faults;
  sys::testing::record_calls();
  text = testing::failure_text(run_apply(plan, std::nullopt));
  return sys::testing::recorded_calls();
}

std::size_t last_index_of(const std::vector<RecordedCall>& calls, Call call, const std::string& subject_end = "") {
  for (std::size_t index = calls.size(); index-- > 0;) {
    if (calls[index].call == call && calls[index].subject.ends_with(subject_end)) return index;
  }
  return calls.size();
}

// The number, among calls of its kind, of the call at index.
std::uint64_t number_of_kind(const std::vector<RecordedCall>& calls, std::size_t index) {
  return static_cast<std::uint64_t>(
      std::count_if(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                    [&](const RecordedCall& call) { return call.call == calls[index].call; }));
}

std::string named_hidden_files_check(const TempDir& dir, const std::string& text) {
  std::string unnamed;
  for (const std::string& hidden : testing::hidden_files(testing::snapshot_tree(dir.path()))) {
    if (text.find(dir / hidden) == std::string::npos) unnamed += hidden + "\n";
  }
  return unnamed;
}

TEST(ApplyJournal, EveryChangedFolderIsFlushedWithTheCommitAndTheJournalGoesLast) {
  TempDir dir;
  dir.file("t/a/f_old.txt", "old");
  dir.folder("t/b_old");
  dir.file("t/x_old", "x");
  const PreviewPlan plan = testing::plan_of(dir / "t", "old", "new");
  std::string text;
  const std::vector<RecordedCall> calls = calls_of_apply(plan, text);
  ASSERT_EQ(text, "");
  const std::size_t last_change = last_index_of(calls, Call::Rename);
  const std::size_t journal_removed = last_index_of(calls, Call::Unlink, "-journal");
  ASSERT_LT(last_change, journal_removed);
  // The journal's first line is written before the first change, and flushed with its folder.
  const std::size_t first_change = std::find_if(calls.begin(), calls.end(), [](const RecordedCall& call) {
                                     return call.call == Call::Rename;
                                   }) - calls.begin();
  const std::size_t plan_written = std::find_if(calls.begin(), calls.end(), [](const RecordedCall& call) {
                                     return call.call == Call::Write && call.subject.ends_with("-journal");
                                   }) - calls.begin();
  EXPECT_LT(plan_written, first_change);
  EXPECT_EQ(calls[plan_written + 1], (RecordedCall{Call::Fsync, calls[plan_written].subject}));
  EXPECT_EQ(std::count(calls.begin() + plan_written, calls.begin() + first_change, RecordedCall{Call::Fsync, dir / "t"}), 1);

  // After the last change: the commit mark, each changed folder flushed once,
  // the journal flushed; only then the cleanup.
  const auto commit = std::find_if(calls.begin() + static_cast<std::ptrdiff_t>(last_change), calls.end(),
                                   [](const RecordedCall& call) {
                                     return call.call == Call::Write && call.subject.ends_with("-journal");
                                   });
  ASSERT_NE(commit, calls.end());
  const auto committed = std::find(commit, calls.end(), RecordedCall{Call::Fsync, commit->subject});
  ASSERT_NE(committed, calls.end());
  std::vector<std::string> flushed;
  for (auto call = commit; call != committed; ++call) {
    if (call->call == Call::Fsync) flushed.push_back(call->subject);
  }
  std::sort(flushed.begin(), flushed.end());
  EXPECT_EQ(flushed, (std::vector<std::string>{dir / "t", dir / "t/a"}));
  const std::size_t recovery_removed = last_index_of(calls, Call::Unlink, "-recovery");
  EXPECT_GT(recovery_removed, static_cast<std::size_t>(committed - calls.begin()));
  EXPECT_NE(std::find(calls.begin() + static_cast<std::ptrdiff_t>(recovery_removed), calls.begin() +
                      static_cast<std::ptrdiff_t>(journal_removed), RecordedCall{Call::Fsync, dir / "t/a"}),
            calls.begin() + static_cast<std::ptrdiff_t>(journal_removed))
      << "the recovery file's removal is flushed before the journal goes";
  EXPECT_EQ(calls.back(), (RecordedCall{Call::Fsync, dir / "t"})) << "the journal's removal is flushed last";
  EXPECT_TRUE(testing::hidden_files(testing::snapshot_tree(dir.path())).empty());
}

TEST(ApplyJournal, AFailedFolderFlushRollsBackAndManyFoldersAreFlushedWithOneSyncfs) {
  TempDir dir;
  dir.file("t/a/f_old.txt", "old");
  dir.file("t/x_old", "x");
  std::string text;
  const std::vector<RecordedCall> calls = calls_of_apply(testing::plan_of(dir / "t", "old", "new"), text);
  ASSERT_EQ(text, "");
  // The same apply again, with the flush of t/a after the renames failing.
  const std::size_t flush = std::find(calls.begin() + static_cast<std::ptrdiff_t>(last_index_of(calls, Call::Rename)),
                                      calls.end(), RecordedCall{Call::Fsync, dir / "t/a"}) - calls.begin();
  ASSERT_LT(flush, calls.size());
  TempDir again;
  again.file("t/a/f_old.txt", "old");
  again.file("t/x_old", "x");
  const PreviewPlan plan = testing::plan_of(again / "t", "old", "new");
  const auto before = testing::snapshot_tree(again.path());
  {
    ScopedFaults faults(Fault{.call_number = number_of_kind(calls, flush), .error = EIO, .only = Call::Fsync});
    text = testing::failure_text(run_apply(plan, std::nullopt));
  }
  EXPECT_EQ(text, "Cannot flush folder: Input/output error (os error 5)\nPath: " + again / "t/a" + kRolledBack);
  EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(again.path())), "");

  TempDir many;
  for (int folder = 0; folder < 20; ++folder) many.file("t/d" + std::to_string(folder) + "/f_old", "");
  const std::vector<RecordedCall> wide = calls_of_apply(testing::plan_of(many / "t", "old", "new"), text);
  ASSERT_EQ(text, "");
  const std::size_t renamed = last_index_of(wide, Call::Rename);
  EXPECT_EQ(std::count_if(wide.begin() + static_cast<std::ptrdiff_t>(renamed), wide.end(),
                          [](const RecordedCall& call) { return call.call == Call::Syncfs; }),
            1);
  EXPECT_EQ(std::count_if(wide.begin() + static_cast<std::ptrdiff_t>(renamed), wide.end(),
                          [&](const RecordedCall& call) { return call.call == Call::Fsync && call.subject != many / "t" &&
                                                                 !call.subject.ends_with("-journal"); }),
            0);
}

TEST(ApplyJournal, AFolderSwappedForALinkCannotSendAnyChangeOutsideTheTarget) {
  for (const bool before_the_folder_is_reached : {true, false}) {
    SCOPED_TRACE(before_the_folder_is_reached ? "swapped before the rename phase" : "swapped right before the rename");
    TempDir dir;
    dir.file("t/edit.txt", "old");  // one install: two renames before the rename phase
    dir.file("t/sub/f_old", "f");
    dir.file("outside/f_old", "someone else's");
    const auto outside_before = testing::snapshot_tree(dir / "outside");
    const PreviewPlan plan = testing::plan_of(dir / "t", "old", "new");
    ScopedFaults faults;
    sys::testing::on_call(before_the_folder_is_reached ? 2 : 3, [&] {
      ASSERT_EQ(::rename((dir / "t/sub").c_str(), (dir / "t/sub_moved").c_str()), 0);
      ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "t/sub").c_str()), 0);
    }, Call::Rename);
    const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
    sys::testing::clear();
    EXPECT_EQ(testing::describe_difference(outside_before, testing::snapshot_tree(dir / "outside")), "") << text;
    if (before_the_folder_is_reached) {
      EXPECT_EQ(text, "Cannot rename entry: Too many levels of symbolic links (os error 40)\nPath: " + dir / "t/sub/f_old" +
                          kRolledBack);
    } else {
      // The rename took place in the folder that was checked, now moved
      // aside; the flush finds the link and the undo names what stays changed.
      EXPECT_TRUE(text.starts_with("Cannot flush folder: Too many levels of symbolic links (os error 40)\nPath: " +
                                   dir / "t/sub\nRecovery is incomplete. Preserve these files:\n"
                                   "Could not restore original name: Too many levels of symbolic links (os error 40)\n"
                                   "Path: " + dir / "t/sub/f_new"))
          << text;
      EXPECT_EQ(testing::read_file(dir / "t/sub_moved/f_new"), "f");
    }
    EXPECT_EQ(testing::read_file(dir / "t/edit.txt"), "old") << "the install was undone";
    EXPECT_EQ(named_hidden_files_check(dir, text), "") << text;
  }
}

TEST(ApplyRollback, AChildIsRestoredInsideAFolderWhoseOwnUndoFailed) {
  TempDir dir;
  dir.file("t/old_d/f_old", "f");
  dir.file("t/z_old", "z");
  const PreviewPlan plan = testing::plan_of(dir / "t", "old", "new");
  // Renames: f_old, old_d, then z_old finds its name taken; the undo of old_d
  // fails (4), that of f_old inside it works (5), and the second pass's
  // undo of old_d fails again (6).
  ScopedFaults faults(std::vector<Fault>{{.call_number = 4, .error = EIO, .only = Call::Rename},
                                         {.call_number = 6, .error = EIO, .only = Call::Rename}});
  sys::testing::on_call(3, [&] { testing::write_file(dir / "t/z_new", "intruder"); }, Call::Rename);
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  sys::testing::clear();
  EXPECT_TRUE(text.starts_with("Cannot rename entry: File exists (os error 17)\nPath: " + dir / "t/z_old" +
                               "\nRecovery is incomplete. Preserve these files:\n"
                               "Could not restore original name: Input/output error (os error 5)\nPath: " +
                               dir / "t/new_d\nTransaction journal kept for Recover"))
      << text;
  EXPECT_EQ(testing::read_file(dir / "t/new_d/f_old"), "f") << "restored under the name its folder kept";
  // Recover finishes what the rollback could not.
  const PreviewFinished refused = run_preview(testing::preview_request(dir / "t", "old"));
  ASSERT_TRUE(refused.interrupted_apply_journal);
  ASSERT_TRUE(run_recover(*refused.interrupted_apply_journal).outcome);
  EXPECT_EQ(testing::read_file(dir / "t/old_d/f_old"), "f");
  EXPECT_TRUE(testing::hidden_files(testing::snapshot_tree(dir.path())).empty());
}

TEST(ApplyRollback, EveryFileNotAtItsPathIsNamedWithWhereItsBytesAre) {
  struct Case {
    const char* name;
    std::vector<Fault> faults;
    std::vector<std::string> expected_lines;  // {O} and {R} stand for the file and its recovery file
  };
  const std::vector<Case> cases = {
      {"install and its restore fail, and the restore fails again",
       {{.call_number = 2, .error = EIO, .persistent = true, .only = Call::Rename}},
       {"Could not restore original data; recovery files retained: Input/output error (os error 5)\nPath: {R}",
        "{O} is missing; its original data is in {R}"}},
      {"the second file's move fails, the first one's restore after its move aside",
       {{.call_number = 3, .error = EIO, .only = Call::Rename},
        {.call_number = 5, .error = EIO, .persistent = true, .only = Call::Rename}},
       {"Could not restore original data; recovery files retained: Input/output error (os error 5)\nPath: {R}",
        "{O} is missing; its original data is in {R}"}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempDir dir;
    const std::string first = dir.file("t/a.txt", "old a");
    dir.file("t/b.txt", "old b");
    const PreviewPlan plan = testing::plan_of(dir / "t", "old", "new");
    std::string text;
    {
      ScopedFaults faults(test.faults);
      text = testing::failure_text(run_apply(plan, std::nullopt));
    }
    std::string recovery;
    for (const std::string& hidden : testing::hidden_files(testing::snapshot_tree(dir.path()))) {
      if (hidden.ends_with("-recovery")) recovery = dir / hidden;
    }
    ASSERT_FALSE(recovery.empty()) << text;
    EXPECT_EQ(testing::read_file(recovery), "old a");
    EXPECT_FALSE(testing::exists(first));
    for (std::string line : test.expected_lines) {
      line.replace(line.find("{R}"), 3, recovery);
      if (const std::size_t at = line.find("{O}"); at != std::string::npos) line.replace(at, 3, first);
      EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
    }
    EXPECT_EQ(text.find("restore from your backup"), std::string::npos) << "no backup was made";
    EXPECT_EQ(named_hidden_files_check(dir, text), "") << text;
  }
}

TEST(ApplyCleanup, AReadFailureIsReportedAsSuchAndTheFileKept) {
  TempDir dir;
  dir.file("t/f.txt", "old");
  std::string text;
  const std::vector<RecordedCall> calls = calls_of_apply(testing::plan_of(dir / "t", "old", "new"), text);
  ASSERT_EQ(text, "");
  // The cleanup's read-back of the recovery file.
  const std::size_t read_at = last_index_of(calls, Call::Read, "-recovery");
  ASSERT_LT(read_at, calls.size());
  TempDir again;
  again.file("t/f.txt", "old");
  const PreviewPlan plan = testing::plan_of(again / "t", "old", "new");
  {
    ScopedFaults faults(Fault{.call_number = number_of_kind(calls, read_at), .error = EIO, .only = Call::Read});
    text = testing::failure_text(run_apply(plan, std::nullopt));
  }
  std::string recovery;
  for (const std::string& hidden : testing::hidden_files(testing::snapshot_tree(again.path()))) recovery = again / hidden;
  EXPECT_EQ(text, "Changes completed, but some original-data recovery files could not be removed. Remove them manually "
                  "after checking your files:\nCould not read back temporary transaction file; preserved for manual "
                  "review: Input/output error (os error 5)\nPath: " + recovery);
  EXPECT_EQ(testing::read_file(recovery), "old");
  EXPECT_EQ(testing::read_file(again / "t/f.txt"), "new");
}

}  // namespace
}  // namespace tarnwick
