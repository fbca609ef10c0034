// The preview's content step: what it reads and retains, the per-file bounds,
// the content transaction total, and how a refusal is reported.
#include <gtest/gtest.h>
#include <unistd.h>

#include "common/text.h"
#include "engine/preview_support.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

using testing::preview_error;
using testing::preview_ok;
using testing::TempDir;

constexpr std::uint64_t kMiB = 1u << 20;

OperationRequest content_request(const std::string& target, std::string find, std::string replacement,
                                 ContentMode mode = ContentMode::TextOnly) {
  OperationRequest request = testing::preview_request(target, std::move(find), std::move(replacement));
  request.edit_contents = true;
  request.content_mode = mode;
  return request;
}

// A file of the given size that costs no disk space.
std::string sparse_file(TempDir& dir, const std::string& name, std::uint64_t size) {
  const std::string path = dir.file(name);
  EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
  return path;
}

TEST(PreviewContent, ReadsEveryPassedFileAndPlansChangedContent) {
  TempDir dir;
  const std::string root = dir.folder("r");
  dir.file("r/notes-old.txt", "an old line\nold again\n");
  dir.file("r/plain.txt", "nothing here\n");
  dir.file("r/skip.md", "old but excluded\n");
  OperationRequest request = content_request(root, "old", "new");
  request.extension_filter = {ExtensionFilter::Mode::ExcludeListed, {"md"}};
  const PreviewPlan plan = preview_ok(request);

  ASSERT_EQ(plan.changes.size(), 1u);
  const ChangeEntry& change = plan.changes[0];
  EXPECT_EQ(change.final_path, root + "/notes-new.txt");
  EXPECT_TRUE(change.name_changes);
  EXPECT_TRUE(change.content_changes);
  EXPECT_FALSE(change.binary_or_resource);
  EXPECT_EQ(change.literal_count, 3u) << "one in the name, two in the content";
  EXPECT_TRUE(change.content_summary.has_value());

  ASSERT_EQ(plan.scan_records.size(), 4u);
  const ScanRecord& edited = plan.scan_records[1];
  EXPECT_EQ(edited.original_bytes, "an old line\nold again\n");
  EXPECT_EQ(edited.replacement_bytes, "an new line\nnew again\n");
  const ScanRecord& unchanged = plan.scan_records[2];
  EXPECT_EQ(unchanged.original_bytes, "nothing here\n") << "read and kept though it does not change";
  EXPECT_FALSE(unchanged.replacement_bytes.has_value());
  const ScanRecord& excluded = plan.scan_records[3];
  EXPECT_FALSE(excluded.original_bytes.has_value()) << "excluded files are never read";
}

TEST(PreviewContent, ReadOnlyFileWhoseContentWouldChange) {
  TempDir dir;
  const std::string file = dir.file("a.txt", "old", 0444);
  EXPECT_EQ(preview_error(content_request(file, "old", "new")),
            "A matching entry is read-only: change its permissions or exclude it before previewing\nPath: " + file);
}

TEST(PreviewContent, PerFileBoundsByMode) {
  TempDir dir;
  const std::string root = dir.folder("r");
  const std::string at_text_limit = sparse_file(dir, "r/a", 16 * kMiB);
  const std::string over_text_limit = sparse_file(dir, "r/b", 16 * kMiB + 1);
  const std::string over_binary_limit = sparse_file(dir, "r/c", 64 * kMiB + 1);

  const PreviewPlan text = preview_ok(content_request(root, "old", "new"));
  ASSERT_EQ(text.scan_records.size(), 4u);
  ASSERT_TRUE(text.scan_records[1].original_bytes.has_value());
  EXPECT_EQ(text.scan_records[1].original_bytes->size(), 16 * kMiB);
  EXPECT_FALSE(text.scan_records[2].original_bytes.has_value());
  std::vector<std::string> skips;
  for (const Notice& notice : text.notices) {
    if (notice.starts_with("Skipped content larger")) skips.push_back(notice);
  }
  EXPECT_EQ(skips, (std::vector<std::string>{"Skipped content larger than 16 MiB in this mode: " + over_text_limit,
                                             "Skipped content larger than 16 MiB in this mode: " + over_binary_limit}));

  const PreviewPlan binary = preview_ok(content_request(root, "old", "new", ContentMode::BinaryOnly));
  EXPECT_EQ(binary.scan_records[2].original_bytes->size(), 16 * kMiB + 1);
  EXPECT_EQ(binary.notices, std::vector<Notice>{"Skipped content larger than 64 MiB in this mode: " + over_binary_limit});
}

TEST(PreviewContent, TransactionTotalIsBoundedBeforeMemoryIsTaken) {
  TempDir dir;
  const std::string root = dir.folder("r");
  for (const char* name : {"r/1", "r/2", "r/3", "r/4"}) sparse_file(dir, name, 64 * kMiB);
  const OperationRequest request = content_request(root, "old", "new", ContentMode::BinaryOnly);
  EXPECT_TRUE(run_preview(request).plan.has_value()) << "exactly 256 MiB is allowed";
  dir.file("r/5", "x");
  EXPECT_EQ(preview_error(request),
            "Preview exceeds the 256 MiB content transaction limit. Narrow the folder, depth or file extensions.");
}

TEST(PreviewContent, ARefusalOfTheContentPlanNamesTheFile) {
  TempDir dir;
  const std::string file = dir.file("a.txt", "caf\xc3\xa9 old\n");
  // A replacement the chosen code page cannot represent.
  OperationRequest request = content_request(file, "old", "\xe6\x97\xa5\xe6\x9c\xac");
  request.encoding = {EncodingKind::CodePage, 1252};
  const auto direct = plan_content_edit(file, "caf\xc3\xa9 old\n", request.find, request.replacement,
                                        MatchCase::Ignore, ContentOptions{request.encoding, Resizable::No,
                                                                          ContentMode::TextOnly});
  if (direct) GTEST_SKIP() << "the content plan accepts this input";
  EXPECT_EQ(preview_error(request), path_form("Cannot prepare content replacement", direct.error(), file));
}

}  // namespace
}  // namespace tarnwick
