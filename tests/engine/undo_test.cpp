// Undo of a completed apply on real trees: round trips back to every byte
// and mode, the undo of the undo, and refusals that touch nothing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "engine/apply_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;
using testing::TreeSnapshot;

PreviewPlan preview_of(const OperationRequest& request) {
  PreviewFinished finished = run_preview(request);
  EXPECT_TRUE(finished.plan) << finished.plan.error();
  return finished.plan ? std::move(*finished.plan) : PreviewPlan{};
}

// Applies, checking that it completed and kept what it did.
UndoRecord apply_ok(PreviewPlan plan) {
  ApplyFinished finished = run_apply(std::move(plan), std::nullopt);
  EXPECT_EQ(testing::failure_text(finished), "");
  EXPECT_TRUE(finished.undo.has_value());
  return finished.undo ? std::move(*finished.undo) : UndoRecord{};
}

struct RoundTrip {
  const char* name;
  std::function<std::string(TempDir&)> build;  // returns the target
  std::function<void(OperationRequest&)> options = [](OperationRequest&) {};
  const char* find = "old";
  const char* replacement = "new";
};

// Apply, undo, and the undo of the undo: each leaves the tree exactly as the
// step before the last one left it.
void expect_round_trip(const RoundTrip& trip) {
  SCOPED_TRACE(trip.name);
  TempDir dir;
  OperationRequest request = testing::apply_request(trip.build(dir), trip.find, trip.replacement);
  trip.options(request);
  const TreeSnapshot original = testing::snapshot_tree(dir.path());
  const PreviewPlan preview = preview_of(request);
  ASSERT_FALSE(preview.changes.empty());
  UndoRecord record = apply_ok(preview);
  const TreeSnapshot applied = testing::snapshot_tree(dir.path());
  ASSERT_NE(testing::describe_difference(original, applied), "");

  Result<PreviewPlan> undo = build_undo_plan(record);
  ASSERT_TRUE(undo) << undo.error();
  EXPECT_EQ(undo->kind, PlanKind::Undo);
  EXPECT_EQ(undo->changes.size(), preview.changes.size());
  // It restores bytes and replaces no literal: nothing to excerpt.
  for (const ChangeEntry& change : undo->changes) EXPECT_EQ(compose_change_excerpts(*undo, change, request)->size(), 0u);
  const std::string original_target = preview.target_path;
  ApplyFinished undone = run_apply(std::move(*undo), std::nullopt);
  ASSERT_TRUE(undone.outcome) << undone.outcome.error();
  EXPECT_EQ(undone.outcome->final_target_path, original_target);
  EXPECT_EQ(testing::describe_difference(original, testing::snapshot_tree(dir.path())), "");

  ASSERT_TRUE(undone.undo);
  Result<PreviewPlan> redo = build_undo_plan(*undone.undo);
  ASSERT_TRUE(redo) << redo.error();
  EXPECT_EQ(testing::failure_text(run_apply(std::move(*redo), std::nullopt)), "");
  EXPECT_EQ(testing::describe_difference(applied, testing::snapshot_tree(dir.path())), "");
}

TEST(Undo, RoundTripsNamesAndContentsByteForByte) {
  const RoundTrip trips[] = {
      {"names only, modes kept",
       [](TempDir& dir) {
         dir.file("t/old_a.txt", "an old line", 0640);
         dir.folder("t/old_dir", 0700);
         dir.file("t/old_dir/old_b/f_old", "x", 0600);
         return dir / "t";
       },
       [](OperationRequest& request) { request.edit_contents = false; }},
      {"renamed target over nested renamed folders",
       [](TempDir& dir) {
         dir.file("old_root/old_a/old_b/old_c.txt", "old\nold\n");
         dir.file("old_root/old_a/keep.txt", "old", 0604);
         return dir / "old_root";
       }},
      {"UTF-8 with a byte-order mark, UTF-16 both ways",
       [](TempDir& dir) {
         dir.file("t/bom.txt", "\xEF\xBB\xBF" "old caf\xC3\xA9 old\n");
         dir.file("t/le.txt", testing::utf16("an old text", false));
         dir.file("t/be.txt", testing::utf16("an old text", true));
         return dir / "t";
       }},
      {"a legacy code page",
       [](TempDir& dir) {
         dir.file("t/cp.txt", "old caf\xE9 old");
         return dir / "t";
       },
       [](OperationRequest& request) { request.encoding = {EncodingKind::CodePage, 1252}; }},
      {"raw binary with a width change",
       [](TempDir& dir) {
         dir.file("t/data.bin", std::string("\x00\x01old\x00\xFF" "old\x7F", 11));
         return dir / "t";
       },
       [](OperationRequest& request) {
         request.content_mode = ContentMode::BinaryOnly;
         request.resizable_binary = true;
       },
       "old", "longer"},
  };
  for (const RoundTrip& trip : trips) expect_round_trip(trip);
}

// A real resource whose texture names are relocated: restored from its
// original bytes, never re-inflated (opt-in like the other sample tests).
TEST(Undo, RoundTripsARealResourceWithRelocatedNames) {
  const char* samples = std::getenv("TARNWICK_RSC7_SAMPLES");
  if (samples == nullptr) GTEST_SKIP() << "TARNWICK_RSC7_SAMPLES is not set";
  expect_round_trip({"ril3.ytd",
                     [&](TempDir& dir) {
                       dir.file("t/ril3.ytd", testing::read_file(std::string(samples) + "/ril3.ytd"));
                       return dir / "t";
                     },
                     [](OperationRequest& request) { request.content_mode = ContentMode::TextAndBinary; },
                     "texture", "texture_renamed"});
}

class UndoRefusal : public ::testing::Test {
 protected:
  TempDir dir;
  UndoRecord record;

  void SetUp() override {
    dir.file("t/old_dir/old_a.txt", "old text");
    dir.file("t/old_b.txt", "b");
    dir.file("t/sub/c.txt", "old");
    record = apply_ok(preview_of(testing::apply_request(dir / "t", "old", "new")));
  }

  // The undo is refused naming path, and nothing changed.
  void expect_refused_naming(const std::string& path) {
    const TreeSnapshot before = testing::snapshot_tree(dir.path());
    const Result<PreviewPlan> undo = build_undo_plan(record);
    ASSERT_FALSE(undo);
    EXPECT_EQ(undo.error(), "Cannot undo: " + path + " changed after the apply.");
    EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(dir.path())), "");
  }
};

// Rewrites a file in place and puts its times back: only its bytes tell.
void rewrite_keeping_times(const std::string& path, const std::string& content) {
  struct stat status {};
  ASSERT_EQ(::lstat(path.c_str(), &status), 0);
  testing::write_file(path, content);
  const struct timespec times[2] = {status.st_atim, status.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST_F(UndoRefusal, OtherBytesOfTheSameSizeAndTimesOrAnEditedRenamedFile) {
  rewrite_keeping_times(dir / "t/sub/c.txt", "NEW");
  expect_refused_naming(dir / "t/sub/c.txt");
  rewrite_keeping_times(dir / "t/sub/c.txt", "new");
  testing::write_file(dir / "t/new_dir/new_a.txt", "new text, edited");
  expect_refused_naming(dir / "t/new_dir/new_a.txt");
}

TEST_F(UndoRefusal, AnOriginalNameTakenInAnyLetterCase) {
  testing::write_file(dir / "t/OLD_B.TXT", "new file");
  expect_refused_naming(dir / "t/OLD_B.TXT");
  std::filesystem::rename(dir / "t/OLD_B.TXT", dir / "t/old_b.txt");
  expect_refused_naming(dir / "t/old_b.txt");
}

TEST_F(UndoRefusal, ARenamedFolderMovedAwayAndTheRecordStillServesOnceItIsBack) {
  std::filesystem::rename(dir / "t/new_dir", dir / "elsewhere");
  expect_refused_naming(dir / "t/new_dir");
  std::filesystem::rename(dir / "elsewhere", dir / "t/new_dir");
  Result<PreviewPlan> undo = build_undo_plan(record);
  ASSERT_TRUE(undo) << undo.error();
  EXPECT_EQ(testing::failure_text(run_apply(std::move(*undo), std::nullopt)), "");
  EXPECT_EQ(testing::read_file(dir / "t/old_dir/old_a.txt"), "old text");
  EXPECT_EQ(testing::read_file(dir / "t/sub/c.txt"), "old");
}

// Another file written into a folder after the undo was planned, before it is
// applied: the apply's own verification refuses it like any stale preview.
TEST_F(UndoRefusal, TheApplyReverifiesTheUndoPlan) {
  Result<PreviewPlan> undo = build_undo_plan(record);
  ASSERT_TRUE(undo) << undo.error();
  testing::write_file(dir / "t/Old_B.txt", "late");
  const TreeSnapshot before = testing::snapshot_tree(dir.path());
  const ApplyFinished finished = run_apply(std::move(*undo), std::nullopt);
  EXPECT_TRUE(testing::failure_text(finished).starts_with("Selection changed since preview: ")) << testing::failure_text(finished);
  EXPECT_FALSE(finished.undo);
  EXPECT_EQ(testing::describe_difference(before, testing::snapshot_tree(dir.path())), "");
}

}  // namespace
}  // namespace tarnwick
