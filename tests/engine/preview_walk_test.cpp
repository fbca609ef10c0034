// The preview walk over real trees: order, depth, skips, filters, refusals, limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "engine/preview_support.h"
#include "engine/scan.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

using testing::preview_error;
using testing::preview_ok;
using testing::preview_request;
using testing::TempDir;
using testing::walk_order;
using Strings = std::vector<std::string>;

TEST(PreviewWalk, DepthFirstInByteOrderWithRecordsAndChanges) {
  TempDir dir;
  const std::string root = dir.folder("root");
  dir.file("root/b/old-inner.txt", "x");
  dir.file("root/a", "y");
  dir.file("root/C-old", "z");
  const PreviewPlan plan = preview_ok(preview_request(root, "old", "new"));
  EXPECT_EQ(walk_order(plan, root), (Strings{"", "C-old", "a", "b", "b/old-inner.txt"}));
  EXPECT_EQ(plan.items_scanned, 5u);
  EXPECT_EQ(plan.target_path, root);
  EXPECT_TRUE(plan.notices.empty());

  ASSERT_EQ(plan.changes.size(), 2u);
  EXPECT_EQ(plan.changes[0].original_path, root + "/C-old");
  EXPECT_EQ(plan.changes[0].final_path, root + "/C-new");
  EXPECT_EQ(plan.changes[1].final_path, root + "/b/new-inner.txt");
  EXPECT_EQ(plan.changes[1].literal_count, 1u);
  EXPECT_TRUE(plan.changes[1].name_changes);
  EXPECT_FALSE(plan.changes[1].content_changes);
  EXPECT_FALSE(plan.changes[1].is_folder);

  const ScanRecord& folder = plan.scan_records[3];
  ASSERT_TRUE(folder.folder_listing.has_value());
  EXPECT_EQ(*folder.folder_listing, (Strings{root + "/b/old-inner.txt"}));
  EXPECT_TRUE(folder.identity.is_folder);
  EXPECT_EQ(folder.depth, 1u);
  EXPECT_EQ(plan.scan_records[4].own_renamed_path, root + "/b/new-inner.txt");
  EXPECT_EQ(plan.scan_records[4].depth, 2u);
  EXPECT_FALSE(plan.scan_records[4].original_bytes.has_value()) << "contents are not read when editing is off";
}

// Siblings sharing long stems, names that are prefixes of others, bytes above
// 0x7F and names ending inside the first eight bytes after the shared stem.
TEST(FolderListing, ByteOrderOfNamesSharingLongStems) {
  TempDir dir;
  const std::string folder = dir.folder("f");
  Strings expected;
  const auto add = [&](const std::string& name) {
    if (std::find(expected.begin(), expected.end(), folder + "/" + name) != expected.end()) return;
    dir.file("f/" + name);
    expected.push_back(folder + "/" + name);
  };
  for (const char* name : {"document-0001.txt", "document-00010.txt", "document-0001", "document-0001.txt.bak",
                           "document-", "documenu", "d", "document-\xff", "document-\xc3\xa9", "document-0001.tx"}) {
    add(name);
  }
  std::mt19937 random(77);
  const std::string alphabet = "ab-.\x80\xff";
  for (int i = 0; i < 300; ++i) {
    std::string name = i % 2 == 0 ? "document-" : "document-ab";
    for (int length = static_cast<int>(random() % 14); length > 0; --length) name += alphabet[random() % alphabet.size()];
    if (name.back() != '.') add(name);
  }
  std::sort(expected.begin(), expected.end());
  const auto listed = list_folder(folder);
  ASSERT_TRUE(listed.has_value()) << listed.error();
  EXPECT_EQ(*listed, expected);
}

TEST(PreviewWalk, FinalPathsFollowRenamedAncestors) {
  TempDir dir;
  const std::string root = dir.folder("old-root");
  dir.file("old-root/old-sub/old.txt");
  const PreviewPlan plan = preview_ok(preview_request(root, "OLD", "new"));  // match case off
  ASSERT_EQ(plan.changes.size(), 3u);
  EXPECT_EQ(plan.changes[0].final_path, dir / "new-root");
  EXPECT_EQ(plan.changes[1].final_path, dir / "new-root/new-sub");
  EXPECT_EQ(plan.changes[2].final_path, dir / "new-root/new-sub/new.txt");
  EXPECT_EQ(plan.scan_records[2].own_renamed_path, dir / "old-root/old-sub/new.txt");
}

TEST(PreviewWalk, DepthLimitsAndFolderContentsSwitch) {
  TempDir dir;
  const std::string root = dir.folder("t");
  dir.file("t/a/deep");
  dir.file("t/b");
  OperationRequest request = preview_request(root, "zzz");
  request.max_depth = 0;
  EXPECT_EQ(walk_order(preview_ok(request), root), (Strings{""}));
  request.max_depth = 1;
  const PreviewPlan one = preview_ok(request);
  EXPECT_EQ(walk_order(one, root), (Strings{"", "a", "b"}));
  EXPECT_FALSE(one.scan_records[1].folder_listing.has_value()) << "a folder at the depth limit is not listed";
  request.max_depth.reset();
  request.include_folder_contents = false;
  request.find = "t";
  request.replacement = "T";
  request.match_case = true;
  const PreviewPlan alone = preview_ok(request);
  EXPECT_EQ(walk_order(alone, root), (Strings{""}));
  ASSERT_EQ(alone.changes.size(), 1u);
  EXPECT_EQ(alone.changes[0].final_path, dir / "T");
}

TEST(PreviewWalk, SkipsLinksHardLinksSpecialFilesVersionControlAndNonUnicodeNames) {
  TempDir dir;
  const std::string root = dir.folder("r");
  dir.file("r/file-x");
  dir.symlink("r/link-x", "file-x");
  dir.hardlink("r/hard-x", "r/file-x");
  dir.hardlink("r/hard-y", "r/file-x");
  dir.fifo("r/pipe-x");
  dir.file("r/.git/config-x");
  dir.file("r/.svn/x");
  dir.folder("r/.hg");
  dir.file("r/.GIT/x");  // case-sensitive: walked
  dir.file("r/n\xfc-x", "content");
  const PreviewPlan plan = preview_ok(preview_request(root, "x", "y"));
  EXPECT_EQ(walk_order(plan, root), (Strings{"", ".GIT", ".GIT/x", "n\xfc-x"}));
  EXPECT_EQ(plan.items_scanned, 12u) << "skipped entries are counted as taken from the stack";
  const Strings expected_notices = {
      "Skipped version-control metadata folder: " + root + "/.git",
      "Skipped version-control metadata folder: " + root + "/.hg",
      "Skipped version-control metadata folder: " + root + "/.svn",
      "Skipped link or special file: " + root + "/file-x",
      "Skipped link or special file: " + root + "/hard-x",
      "Skipped link or special file: " + root + "/hard-y",
      "Skipped link or special file: " + root + "/link-x",
      "Skipped non-Unicode name: " + root + "/n\xef\xbf\xbd-x",
      "Skipped link or special file: " + root + "/pipe-x",
  };
  EXPECT_EQ(plan.notices, expected_notices);
  ASSERT_EQ(plan.changes.size(), 1u);
  EXPECT_EQ(plan.changes[0].final_path, root + "/.GIT/y");
}

TEST(PreviewWalk, SelectedGitFolderIsWalked) {
  TempDir dir;
  const std::string root = dir.file(".git/old");
  const PreviewPlan plan = preview_ok(preview_request(dir / ".git", "old", "new"));
  EXPECT_EQ(plan.changes.size(), 1u);
  EXPECT_EQ(root, dir / ".git/old");
}

TEST(PreviewWalk, ExtensionFilters) {
  TempDir dir;
  const std::string root = dir.folder("x-root");
  for (const char* name : {"x1.doc", "x2.DOC", "x3.md", "x4", ".x5", "x6-folder/y"}) {
    dir.file(std::string("x-root/") + name);
  }
  const auto renamed = [&](ExtensionFilter filter) {
    OperationRequest request = preview_request(root, "x", "z");
    request.extension_filter = std::move(filter);
    PreviewFinished finished = run_preview(request);
    if (!finished.plan) return Strings{finished.plan.error()};
    Strings names;
    for (const ChangeEntry& change : finished.plan->changes) {
      names.push_back(change.final_path.substr(dir.path().size() + 1));
    }
    return names;
  };
  using Mode = ExtensionFilter::Mode;
  EXPECT_EQ(renamed({Mode::OnlyListed, {"<none>"}}), (Strings{"z-root", "z-root/.z5", "z-root/z4", "z-root/z6-folder"}));
  EXPECT_EQ(renamed({Mode::OnlyListed, {" .DOC"}}), (Strings{"z-root", "z-root/z1.doc", "z-root/z2.DOC", "z-root/z6-folder"}));
  EXPECT_EQ(renamed({Mode::ExcludeListed, {"doc", "<NONE>"}}), (Strings{"z-root", "z-root/z3.md", "z-root/z6-folder"}));
  // A name ending in a full stop has the empty extension: renaming it would
  // keep the full stop, which is refused, unless <none> excludes it.
  dir.file("x-root/x7.");
  EXPECT_EQ(renamed({Mode::OnlyListed, {"."}}),
            Strings{"Invalid resulting file/folder name: z7.. Use a valid Windows name without path separators."});
  EXPECT_EQ(renamed({Mode::ExcludeListed, {"<none>"}}).size(), 5u);
  EXPECT_EQ(renamed({Mode::OnlyListed, {}}), Strings{"Enter at least one extension for Only specified files."});
  for (const char* bad : {"t*t", "a/b", "c:", "a b", "x\\y", "?"}) {
    EXPECT_EQ(renamed({Mode::ExcludeListed, {bad}}),
              Strings{"Enter extensions such as .txt, .md or <none>; wildcards and paths are not supported."})
        << bad;
  }
}

TEST(PreviewValidation, RefusesInOrder) {
  TempDir dir;
  const std::string file = dir.file("a.txt");
  EXPECT_EQ(preview_error(preview_request(file, "", std::string("x\0y", 3))), "Find text cannot be empty.");
  EXPECT_EQ(preview_error(preview_request(file, std::string("a\0", 2))), "NUL characters are not supported.");
  EXPECT_EQ(preview_error(preview_request(file, "a", std::string(65'537, 'r'))),
            "Find and replacement text must each be at most 64 KiB.");
  EXPECT_EQ(preview_error(preview_request(file, std::string(65'537, 'a'))),
            "Find and replacement text must each be at most 64 KiB.");
  EXPECT_TRUE(run_preview(preview_request(file, std::string(65'536, 'a'))).plan.has_value());
  EXPECT_EQ(preview_error(preview_request(dir / "missing", "a")),
            "Cannot inspect selected path: No such file or directory (os error 2)\nPath: " + dir / "missing");
  EXPECT_EQ(preview_error(preview_request("/", "a")), "Select a file or a folder below the filesystem root.");
  EXPECT_EQ(preview_error(preview_request("//", "a")), "Select a file or a folder below the filesystem root.");
}

TEST(PreviewValidation, RefusesLinksOnTheWayAndUnsupportedSelections) {
  TempDir dir;
  dir.file("real/inner.txt");
  dir.symlink("via", "real");
  dir.hardlink("hard1", "real/inner.txt");
  EXPECT_EQ(preview_error(preview_request(dir / "via/inner.txt", "a")),
            "Links and reparse points are not supported: choose a direct local path\nPath: " + dir / "via");
  EXPECT_EQ(preview_error(preview_request(dir / "via/", "a")),
            "Links and reparse points are not supported: choose a direct local path\nPath: " + dir / "via");
  EXPECT_EQ(preview_error(preview_request(dir / "hard1", "a")),
            "Unsupported selection: links, hardlinks and special files are skipped\nPath: " + dir / "hard1");
  dir.fifo("pipe");
  EXPECT_EQ(preview_error(preview_request(dir / "pipe", "a")),
            "Unsupported selection: links, hardlinks and special files are skipped\nPath: " + dir / "pipe");
}

TEST(PreviewValidation, RelativeTargetJoinsTheCurrentFolderAndIsCanonicalised) {
  TempDir dir;
  dir.file("sub/old.txt");
  char* saved = ::getcwd(nullptr, 0);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  PreviewFinished finished = run_preview(preview_request("sub//./../sub/", "old", "new"));
  ASSERT_EQ(::chdir(saved), 0);
  std::free(saved);
  ASSERT_TRUE(finished.plan.has_value()) << finished.plan.error();
  EXPECT_EQ(finished.plan->target_path, dir / "sub");
  EXPECT_EQ(finished.request.target, "sub//./../sub/") << "the request comes back unchanged";
  ASSERT_EQ(finished.plan->changes.size(), 1u);
  EXPECT_EQ(finished.plan->changes[0].final_path, dir / "sub/new.txt");
}

TEST(PreviewRefusals, ReadOnlyMatchingEntryButNotAReadOnlyBystander) {
  TempDir dir;
  const std::string root = dir.folder("r");
  dir.file("r/keep.txt", "", 0444);
  EXPECT_TRUE(run_preview(preview_request(root, "old", "new")).plan.has_value());
  dir.file("r/old.txt", "", 0444);
  EXPECT_EQ(preview_error(preview_request(root, "old", "new")),
            "A matching entry is read-only: change its permissions or exclude it before previewing\nPath: " +
                root + "/old.txt");
}

TEST(PreviewRefusals, InvalidNewNamesEndThePreview) {
  TempDir dir;
  const std::string file = dir.file("report.txt");
  EXPECT_EQ(preview_error(preview_request(file, "txt", "txt.")),
            "Invalid resulting file/folder name: report.txt.. Use a valid Windows name without path separators.");
  EXPECT_EQ(preview_error(preview_request(file, "report", "aux.tar")), "Reserved Windows filename: aux.tar.txt.");
  EXPECT_EQ(preview_error(preview_request(file, "report", std::string(1100, 'r'))),
            "Replacement output exceeds the safe size limit. Narrow the selection or replacement.");
}

TEST(PreviewCollisions, CaseOnlyTwinsUntouchedByTheFindTextStillCollide) {
  TempDir dir;
  const std::string root = dir.folder("r");
  dir.file("r/Makefile");
  dir.file("r/makefile");
  EXPECT_EQ(preview_error(preview_request(root, "zzz")),
            "Two entries would share the same name: " + root + "/Makefile and " + root + "/makefile.");
}

TEST(PreviewCollisions, RenameOntoAnExaminedOrALinkedName) {
  TempDir dir;
  const std::string root = dir.folder("r");
  dir.file("r/Report_old.txt");
  dir.file("r/report.txt");
  EXPECT_EQ(preview_error(preview_request(root, "_old")),
            "Two entries would share the same name: " + root + "/Report_old.txt and " + root + "/report.txt.");
  TempDir other;
  const std::string root2 = other.folder("r");
  other.file("r/Report_old.txt");
  other.symlink("r/Report.txt", "elsewhere");
  EXPECT_EQ(preview_error(preview_request(root2, "_old")),
            "Rename destination already exists: nothing has been changed\nPath: " + root2 + "/Report.txt");
}

// Collisions are found during the walk and destinations probed at its end;
// whichever failure comes first in walk order is the one reported.
TEST(PreviewCollisions, FirstFailureInWalkOrderWinsBetweenACollisionAndATakenDestination) {
  TempDir dir;
  const std::string root = dir.folder("r");
  dir.file("r/A_old.txt");
  dir.symlink("r/A.txt", "elsewhere");
  dir.file("r/z/Make");
  dir.file("r/z/make");
  EXPECT_EQ(preview_error(preview_request(root, "_old")),
            "Rename destination already exists: nothing has been changed\nPath: " + root + "/A.txt");
  TempDir other;
  const std::string root2 = other.folder("r");
  other.file("r/B/Make");
  other.file("r/B/make");
  other.file("r/c_old.txt");
  other.symlink("r/c.txt", "elsewhere");
  EXPECT_EQ(preview_error(preview_request(root2, "_old")),
            "Two entries would share the same name: " + root2 + "/B/Make and " + root2 + "/B/make.");
}

TEST(PreviewCollisions, NonUnicodeNamesDifferingOnlyInInvalidBytesDoNotCollide) {
  TempDir dir;
  const std::string root = dir.folder("r");
  dir.file("r/M\xfcller.txt");
  dir.file("r/M\xf6ller.txt");
  dir.file("r/sub1/M\xfcller.txt");
  dir.file("r/sub2/M\xfcller.txt");
  const PreviewPlan plan = preview_ok(preview_request(root, "zzz"));
  EXPECT_EQ(plan.scan_records.size(), 7u);
}

TEST(PreviewLimits, FinalPathLengthBoundary) {
  TempDir dir;
  // Nest folders until the file path is a little under 4096 bytes, then let
  // the rename lengthen it to exactly 4095 and 4096 bytes.
  std::string relative;
  while (dir.path().size() + relative.size() + 201 < 4000) relative += std::string(200, 'd') + "/";
  const std::size_t base = dir.path().size() + 1 + relative.size();
  const std::string name = std::string(4090 - base - 1, 'n') + "x";  // path of 4090 bytes
  const std::string file = dir.file(relative + name);
  ASSERT_EQ(file.size(), 4090u);
  EXPECT_TRUE(run_preview(preview_request(file, "x", "xxxxxx")).plan.has_value());  // 4095
  EXPECT_EQ(preview_error(preview_request(file, "x", "xxxxxxx")),
            "Resulting path exceeds the supported filesystem path length: shorten the replacement or choose a "
            "shallower folder.\nPath: " +
                file + "xxxxxx");
}

TEST(PreviewLimits, FiftyThousandEntries) {
  TempDir dir;
  const std::string root = dir.folder("many");
  for (int i = 0; i < 49'999; ++i) testing::write_file(root + "/" + std::to_string(i), "");
  const PreviewPlan plan = preview_ok(preview_request(root, "zzz"));
  EXPECT_EQ(plan.items_scanned, 50'000u);
  testing::write_file(root + "/one-more", "");
  EXPECT_EQ(preview_error(preview_request(root, "zzz")), "Selection exceeds 50,000 entries. Narrow the folder or depth.");
  testing::write_file(root + "/two-more", "");
  EXPECT_EQ(preview_error(preview_request(root, "zzz")), "A folder exceeds 50,000 entries. Narrow the selection.");
}

}  // namespace
}  // namespace tarnwick
