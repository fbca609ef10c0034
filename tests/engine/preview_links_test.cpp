// Links are skipped, and those whose target the renames take away are named:
// relative and absolute links, "..", links leaving the target, link loops.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/preview_support.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

using testing::TempDir;

std::string skipped(const std::string& link) { return "Skipped link or special file: " + link; }
std::string broken(const std::string& link, const std::string& target) {
  return "Link will no longer resolve after the renames: " + link + " \u2192 " + target;
}

TEST(PreviewLinks, LinksThroughRenamedEntriesAreNamedRightAfterTheirSkipNotice) {
  TempDir dir;
  const std::string t = dir.folder("t");
  dir.file("t/dir_old/f.txt", "f");
  dir.file("t/file_old.txt", "x");
  dir.file("t/keep/k.txt", "k");
  struct Link {
    const char* path;
    std::string target;
    bool breaks;
  };
  const Link links[] = {
      {"t/a_rel", "dir_old/f.txt", true},             // relative, into a renamed folder
      {"t/b_abs", t + "/dir_old", true},              // absolute, the renamed folder itself
      {"t/c_file", "./file_old.txt", true},           // a renamed file
      {"t/d_kept", "keep/k.txt", false},              // nothing renamed on the way
      {"t/e_up", "../t/dir_old/f.txt", true},         // up out of the target and back in
      {"t/f_gone", "dir_old/../keep/k.txt", true},    // ".." after a renamed folder: the kernel needs it to exist
      {"t/g_loop", "g_loop", false},                  // a loop is never followed
      {"t/h_loop", "i_loop", false},
      {"t/i_loop", "h_loop/dir_old", false},          // through another link: not followed
      {"t/j_outside", "/usr/../usr/bin", false},      // outside the target
      {"t/keep/up", "../file_old.txt", true},
      {"t/dir_old/sibling", "f.txt", false},          // moves along with its folder
      {"t/dir_old/parent", "../keep", false},
      {"t/dir_old/self", "../dir_old/f.txt", true},   // names the folder's old name
      {"t/k_root", "/../../" + t.substr(1) + "//file_old.txt", true},
  };
  for (const Link& link : links) dir.symlink(link.path, link.target);

  const PreviewPlan plan = testing::preview_ok(testing::preview_request(t, "old", "new"));
  std::vector<std::string> changed;
  for (const ChangeEntry& change : plan.changes) changed.push_back(change.original_path.substr(t.size() + 1));
  EXPECT_EQ(changed, (std::vector<std::string>{"dir_old", "file_old.txt"})) << "links are never planned";

  // Walk order: each link's notice, followed by its broken-link notice.
  std::vector<const Link*> ordered;
  for (const Link& link : links) ordered.push_back(&link);
  std::sort(ordered.begin(), ordered.end(),
            [](const Link* a, const Link* b) { return std::string(a->path) < std::string(b->path); });
  std::vector<std::string> expected;
  for (const Link* link : ordered) {
    expected.push_back(skipped(dir / link->path));
    if (link->breaks) expected.push_back(broken(dir / link->path, link->target));
  }
  EXPECT_EQ(plan.notices, expected);
}

TEST(PreviewLinks, ARenamedTargetBreaksAbsoluteLinksThroughItButNotRelativeOnes) {
  TempDir dir;
  const std::string target = dir.folder("proj_old");
  dir.file("proj_old/a.txt", "a");
  dir.symlink("proj_old/abs", target + "/a.txt");
  dir.symlink("proj_old/rel", "a.txt");
  dir.symlink("proj_old/beside", "../proj_old2");  // a sibling whose name only starts alike
  const PreviewPlan plan = testing::preview_ok(testing::preview_request(target, "old", "new"));
  EXPECT_EQ(plan.notices, (std::vector<std::string>{skipped(target + "/abs"), broken(target + "/abs", target + "/a.txt"),
                                                    skipped(target + "/beside"), skipped(target + "/rel")}));
}

TEST(PreviewLinks, ALinkToAFileWhoseContentAloneChangesStillResolves) {
  TempDir dir;
  dir.file("t/data.txt", "old");
  dir.symlink("t/l", "data.txt");
  OperationRequest request = testing::preview_request(dir / "t", "old", "new");
  request.edit_contents = true;
  const PreviewPlan plan = testing::preview_ok(request);
  ASSERT_EQ(plan.changes.size(), 1u);
  EXPECT_EQ(plan.notices, std::vector<std::string>{skipped(dir / "t/l")});
}

}  // namespace
}  // namespace tarnwick
