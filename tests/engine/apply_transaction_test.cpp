// The apply transaction on real trees: success, refusals before any change,
// rollback after a failure, leftovers named, concurrent writers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/fs_testing.h"
#include "engine/apply.h"
#include "engine/apply_support.h"
#include "engine/transaction_names.h"

namespace tarnwick {
namespace {

using sys::Call;
using sys::testing::ScopedFaults;
using testing::TempDir;

constexpr const char* kRolledBack = "\nApplied changes were rolled back.";

std::string hidden_file(const TempDir& dir, const std::string& kind) {
  for (const std::string& path : testing::hidden_files(testing::snapshot_tree(dir.path()))) {
    if (path.ends_with(kind)) return dir / path;
  }
  return {};
}

class ApplyTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string target() const { return dir / "t"; }
  testing::TreeSnapshot snapshot() const { return testing::snapshot_tree(dir.path()); }
};

TEST_F(ApplyTest, AppliesContentAndRenamesAtEveryDepth) {
  dir.file("t/old/a/b_old.txt", "x old y old");
  dir.file("t/old/keep.txt", "nothing");
  dir.file("t/plain_old.bin", "old", 0640);
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  const ApplyFinished finished = run_apply(plan, std::nullopt);
  ASSERT_TRUE(finished.outcome) << finished.outcome.error();
  EXPECT_EQ(finished.outcome->final_target_path, target());
  EXPECT_EQ(finished.outcome->names_changed, 3u);
  EXPECT_EQ(finished.outcome->files_edited, 2u);
  EXPECT_EQ(finished.outcome->literal_replacements, 6u);
  EXPECT_FALSE(finished.outcome->backup);
  EXPECT_EQ(testing::read_file(dir / "t/new/a/b_new.txt"), "x new y new");
  EXPECT_EQ(testing::read_file(dir / "t/new/keep.txt"), "nothing");
  EXPECT_EQ(snapshot().at("t/plain_new.bin").mode & 07777, 0640u) << "the original's mode is kept";
  EXPECT_TRUE(testing::hidden_files(snapshot()).empty());
}

TEST_F(ApplyTest, ContentInRenamedFolderIsCleanedUpUnderItsNewName) {
  dir.file("t/a/b.txt", "a");
  const PreviewPlan plan = testing::plan_of(target(), "a", "A");
  const ApplyFinished finished = run_apply(plan, std::nullopt);
  ASSERT_TRUE(finished.outcome) << finished.outcome.error();
  EXPECT_EQ(testing::read_file(dir / "t/A/b.txt"), "A");
  EXPECT_TRUE(testing::hidden_files(snapshot()).empty());
}

TEST_F(ApplyTest, RenamedTargetIsTheFinalTargetPath) {
  dir.file("old_t/x_old", "old");
  const PreviewPlan plan = testing::plan_of(dir / "old_t", "old", "new");
  const ApplyFinished finished = run_apply(plan, std::nullopt);
  ASSERT_TRUE(finished.outcome) << finished.outcome.error();
  EXPECT_EQ(finished.outcome->final_target_path, dir / "new_t");
  EXPECT_EQ(testing::read_file(dir / "new_t/x_new"), "new");
}

// Every change made after the preview stops the apply before anything changes.
TEST_F(ApplyTest, ChangesAfterThePreviewAreRefusedBeforeAnyChange) {
  struct Case {
    const char* name;
    std::function<void(const TempDir&)> change;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"size changed", [](const TempDir& d) { testing::write_file(d / "t/f_old.txt", "old and more"); },
       "Selection changed since preview: create a fresh preview\nPath: {}/t/f_old.txt"},
      {"same metadata, other bytes",
       [](const TempDir& d) {
         struct stat before {};
         ::lstat((d / "t/f_old.txt").c_str(), &before);
         testing::write_file(d / "t/f_old.txt", "OLD");
         const struct timespec times[2] = {before.st_atim, before.st_mtim};
         ::utimensat(AT_FDCWD, (d / "t/f_old.txt").c_str(), times, 0);
       },
       "File data changed since preview: create a fresh preview\nPath: {}/t/f_old.txt"},
      {"file added, folder time kept",
       [](const TempDir& d) {
         struct stat before {};
         ::lstat((d / "t/sub").c_str(), &before);
         testing::write_file(d / "t/sub/new.txt", "");
         const struct timespec times[2] = {before.st_atim, before.st_mtim};
         ::utimensat(AT_FDCWD, (d / "t/sub").c_str(), times, 0);
       },
       "Folder contents changed since preview: create a fresh preview\nPath: {}/t/sub"},
      {"file added", [](const TempDir& d) { testing::write_file(d / "t/sub/new.txt", ""); },
       "Selection changed since preview: create a fresh preview\nPath: {}/t/sub"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempDir fresh;
    fresh.file("t/f_old.txt", "old");
    fresh.file("t/sub/g.txt", "g");
    const PreviewPlan plan = testing::plan_of(fresh / "t", "old", "new");
    test.change(fresh);
    const auto before = testing::snapshot_tree(fresh.path());
    std::string expected = test.expected;
    expected.replace(expected.find("{}"), 2, fresh.path());
    EXPECT_EQ(testing::failure_text(run_apply(plan, std::nullopt)), expected);
    EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(fresh.path())), "");
  }
}

TEST_F(ApplyTest, EntryAtUnlistedDestinationIsRefused) {
  // The preview lists the target's folder, so a destination can only appear
  // unnoticed by the listing when the target itself is renamed.
  dir.file("old/x", "x");
  const PreviewPlan plan = testing::plan_of(dir / "old", "old", "new");
  dir.file("new", "someone else's");
  const auto before = snapshot();
  EXPECT_EQ(testing::failure_text(run_apply(plan, std::nullopt)),
            "Rename destination already exists: nothing has been changed\nPath: " + dir / "new");
  EXPECT_EQ(testing::describe_difference(before, snapshot()), "");
}

TEST_F(ApplyTest, FailingSecondSiblingRenameRollsEverythingBack) {
  dir.file("t/a_old", "old a");
  dir.file("t/b_old", "old b");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  const auto before = snapshot();
  ScopedFaults faults;
  // Two renames per content install, then the first sibling; the second finds its name taken.
  sys::testing::on_call(6, [&] { testing::write_file(dir / "t/b_new", "intruder"); }, Call::Rename);
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  sys::testing::clear();
  EXPECT_EQ(text, "Cannot rename entry: File exists (os error 17)\nPath: " + dir / "t/b_old" + kRolledBack);
  auto after = snapshot();
  EXPECT_EQ(after.at("t/b_new").content, "intruder");
  after.erase("t/b_new");
  EXPECT_EQ(testing::describe_difference(before, after), "");
}

TEST_F(ApplyTest, AlteredRecoveryFileIsKeptAndNamed) {
  dir.file("t/f.txt", "old");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  ScopedFaults faults;
  std::string recovery;
  // The last rename of the install: the recovery file now holds the original.
  sys::testing::on_call(2, [&] {
    recovery = hidden_file(dir, "-recovery");
    testing::write_file(recovery, "edited by someone");
  }, Call::Rename);
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  sys::testing::clear();
  ASSERT_FALSE(recovery.empty());
  EXPECT_TRUE(recovery.ends_with("-recovery"));
  EXPECT_EQ(text,
            "Changes completed, but some original-data recovery files could not be removed. Remove them manually "
            "after checking your files:\nTemporary data was modified externally; preserved for manual review: do not "
            "delete without checking\nPath: " + recovery);
  EXPECT_EQ(testing::read_file(dir / "t/f.txt"), "new");
  EXPECT_EQ(testing::read_file(recovery), "edited by someone");
}

TEST_F(ApplyTest, FileChangedByAnotherProgramBeforeMoveAsideIsNotAFailedRecovery) {
  const std::string file = dir.file("t/f.txt", "old");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  ScopedFaults faults;
  // The unlink that frees the recovery name comes right before the last check.
  sys::testing::on_call(1, [&] { testing::write_file(file, "their newer text"); }, Call::Unlink);
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  sys::testing::clear();
  EXPECT_EQ(text, "Selection changed since preview: create a fresh preview\nPath: " + file + kRolledBack);
  EXPECT_EQ(testing::read_file(file), "their newer text");
  EXPECT_TRUE(testing::hidden_files(snapshot()).empty());
}

TEST_F(ApplyTest, FileReplacedByLinkBeforeItsRenameStopsAndRollsBack) {
  const std::string file = dir.file("t/f_old", "x");
  dir.file("t/g.txt", "old");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  const auto before = snapshot();
  ScopedFaults faults;
  // The second rename installs g.txt; the rename phase comes next.
  sys::testing::on_call(2, [&] {
    ::unlink(file.c_str());
    ::symlink("elsewhere", file.c_str());
  }, Call::Rename);
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  sys::testing::clear();
  EXPECT_EQ(text, "Rename source became a link: operation stopped\nPath: " + file + kRolledBack);
  auto after = snapshot();
  EXPECT_EQ(after.at("t/f_old").type, 'l');
  after.erase("t/f_old");
  auto expected = before;
  expected.erase("t/f_old");
  EXPECT_EQ(testing::describe_difference(expected, after), "");
}

TEST_F(ApplyTest, SetuidFileIsRefusedWithNothingChanged) {
  dir.file("t/tool_old", "old", 04755);
  dir.file("t/a.txt", "old");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  const auto before = snapshot();
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  EXPECT_EQ(text, "Cannot preserve original file security: Content editing refused: source has setuid or setgid "
                  "permissions\nPath: " + dir / "t/tool_old" + kRolledBack);
  EXPECT_EQ(testing::describe_difference(before, snapshot()), "");
}

TEST_F(ApplyTest, BackupDestinationInsideTheFinalTargetIsRefusedBeforeTheBackup) {
  dir.file("t/f_old", "old");
  dir.folder("t/backups");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  const auto before = snapshot();
  EXPECT_EQ(testing::failure_text(run_apply(plan, dir / "t/backups")),
            "Backup destination cannot be the final renamed target or inside it.");
  EXPECT_EQ(testing::failure_text(run_apply(plan, target() + "/")),
            "Backup destination cannot be the final renamed target or inside it.");
  EXPECT_EQ(testing::failure_text(run_apply(plan, "")),
            "Cannot resolve backup destination: cannot make an empty path absolute\nPath: ");
  // A destination that is not there is named as the destination, not as the selection.
  EXPECT_EQ(testing::failure_text(run_apply(plan, dir / "gone/backups")),
            "Cannot inspect backup destination: No such file or directory (os error 2)\nPath: " + dir / "gone/backups");
  EXPECT_EQ(testing::describe_difference(before, snapshot()), "");
}

TEST_F(ApplyTest, RenamePhaseFailureAfterBackupEndsWithTheBackupNote) {
  TempDir destination;
  ::chmod(destination.path().c_str(), 0755);
  dir.file("t/a_old", "old");
  dir.file("t/b_old", "b");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  const auto before = snapshot();
  ScopedFaults faults;
  sys::testing::on_call(4, [&] { testing::write_file(dir / "t/b_new", "intruder"); }, Call::Rename);
  const std::string text = testing::failure_text(run_apply(plan, destination.path()));
  sys::testing::clear();
  const std::string note = "\nComplete original backup retained at: " + destination.path() + "/Tarnwick-backup-";
  ASSERT_NE(text.find(note), std::string::npos) << text;
  EXPECT_TRUE(text.starts_with("Cannot rename entry: File exists (os error 17)\nPath: " + dir / "t/b_old" + kRolledBack +
                               note))
      << text;
  auto after = snapshot();
  after.erase("t/b_new");
  EXPECT_EQ(testing::describe_difference(before, after), "");
}

TEST_F(ApplyTest, IncompleteRecoveryNamesTheFileHoldingTheOriginal) {
  const std::string edited = dir.file("t/a.txt", "old");
  dir.file("t/f_old", "f");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  // The install takes two renames; from the third on every rename fails, so
  // neither the rename of f_old nor the move of the installed file succeeds.
  ScopedFaults faults(sys::testing::Fault{.call_number = 3, .error = EIO, .persistent = true, .only = Call::Rename});
  const std::string text = testing::failure_text(run_apply(plan, std::nullopt));
  sys::testing::clear();
  const std::string recovery = hidden_file(dir, "-recovery");
  ASSERT_FALSE(recovery.empty());
  EXPECT_EQ(testing::read_file(recovery), "old");
  EXPECT_EQ(text, "Cannot rename entry: Input/output error (os error 5)\nPath: " + dir / "t/f_old" +
                      "\nRecovery is incomplete. Preserve these files:\n"
                      "Could not move current file aside; original backup retained: Input/output error (os error 5)\n"
                      "Path: " + edited + "\n"
                      "Could not restore original data; recovery files retained: operation stopped\nPath: " + recovery +
                      "\nTransaction journal kept for Recover: preview this folder again to finish the recovery\nPath: " +
                      hidden_file(dir, "-journal"));
}

TEST_F(ApplyTest, ApplyFinishedArrivesThroughTheWorkerChannel) {
  dir.file("t/f_old", "x");
  const PreviewPlan plan = testing::plan_of(target(), "old", "new");
  auto [sender, receiver] = make_channel<WorkerEvent>();
  ASSERT_TRUE(spawn_worker([plan]() mutable -> WorkerEvent { return run_apply(std::move(plan), std::nullopt); },
                           std::move(sender)));
  std::optional<WorkerEvent> event;
  ASSERT_EQ(testing::wait_for_event(receiver, event), PollStatus::Message);
  ASSERT_TRUE(std::holds_alternative<ApplyFinished>(*event));
  const ApplyFinished& finished = std::get<ApplyFinished>(*event);
  ASSERT_TRUE(finished.outcome) << finished.outcome.error();
  EXPECT_EQ(finished.outcome->names_changed, 1u);
  EXPECT_EQ(testing::read_file(dir / "t/f_new"), "x");
}

TEST(ApplyTransactionFiles, NamesAreHiddenNeverReusedAndRecognisedWhateverTheProcess) {
  TempDir dir;
  const auto folder = sys::open(dir.path(), O_PATH | O_DIRECTORY);
  ASSERT_TRUE(folder);
  const auto first = apply::choose_transaction_name(folder->get(), dir.path(), TransactionKind::Stage);
  const auto second = apply::choose_transaction_name(folder->get(), dir.path(), TransactionKind::Recovery);
  ASSERT_TRUE(first && second);
  const std::string prefix = ".tarnwick-" + std::to_string(::getpid()) + "-";
  EXPECT_TRUE(first->starts_with(prefix) && first->ends_with("-stage")) << *first;
  EXPECT_TRUE(second->starts_with(prefix) && second->ends_with("-recovery")) << *second;
  EXPECT_FALSE(testing::exists(dir / *first)) << "a name is only chosen, the file comes later";

  // Names taken by someone else are skipped; 128 taken in a row give up.
  const std::uint64_t next = transaction_counter().load();
  for (std::uint64_t i = 0; i < 128; ++i) {
    testing::write_file(dir / transaction_file_name(next + i, TransactionKind::Stage), "theirs");
  }
  const auto refused = apply::choose_transaction_name(folder->get(), dir.path(), TransactionKind::Stage);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error(), "Could not reserve a unique transaction filename.");
  testing::write_file(dir / transaction_file_name(next + 128, TransactionKind::Stage), "theirs");
  EXPECT_EQ(apply::choose_transaction_name(folder->get(), dir.path(), TransactionKind::Stage),
            transaction_file_name(next + 129, TransactionKind::Stage));

  EXPECT_EQ(transaction_kind_of(".tarnwick-1-0-stage"), TransactionKind::Stage);
  EXPECT_EQ(transaction_kind_of(".tarnwick-4242-17-recovery"), TransactionKind::Recovery);
  EXPECT_EQ(transaction_kind_of(".tarnwick-9-99999999999-journal"), TransactionKind::Journal);
  for (const char* other : {".tarnwick-1-0-stage2", ".tarnwick--0-stage", ".tarnwick-1-stage", ".tarnwick-a-1-stage",
                            "tarnwick-1-0-stage", ".Tarnwick-1-0-stage", ".tarnwick-1-0-", ".tarnwick-1-0-journal.txt"}) {
    EXPECT_EQ(transaction_kind_of(other), std::nullopt) << other;
  }
}

}  // namespace
}  // namespace tarnwick
