// The excerpts of a preview's changes, from the bytes the plan holds, for a
// real folder whose names sort differently as whole paths and by walk.
#include <gtest/gtest.h>

#include "preview_support.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

std::vector<std::string> texts(const std::vector<ExcerptLine>& lines) {
  std::vector<std::string> result;
  for (const ExcerptLine& line : lines) result.push_back(line.text);
  return result;
}

TEST(ChangeExcerpts, EachChangeShowsItsOwnFile) {
  testing::TempDir tree;
  // "a-1" and "a.txt" sort before "a/x.txt" as whole paths ('-' and '.' are
  // below '/'), but the walk takes the folder "a" and its contents first.
  tree.file("t/a/x.txt", "in the folder: tarn\n");
  tree.file("t/a-1", "dash tarn\n");
  tree.file("t/a.txt", "dot\ntarn\n");
  tree.file("t/tarn-name-only", "nothing here\n");
  tree.file("t/wide.txt", std::string("\xFF\xFE" "w\0i\0d\0e\0\n\0t\0a\0r\0n\0", 20));
  tree.file("t/blob.bin", std::string("\x7F" "ELF\0tarn\0", 10));
  OperationRequest request = testing::preview_request(tree / "t", "tarn", "fen");
  request.edit_contents = true;
  request.content_mode = ContentMode::TextAndBinary;
  request.match_case = true;
  request.resizable_binary = true;
  const PreviewPlan plan = testing::preview_ok(request);

  std::map<std::string, std::vector<std::string>> shown;
  for (const ChangeEntry& change : plan.changes) {
    const auto lines = compose_change_excerpts(plan, change, request);
    ASSERT_TRUE(lines) << lines.error();
    shown[change.original_path.substr(tree.path().size() + 3)] = texts(*lines);
  }
  using Lines = std::vector<std::string>;
  EXPECT_EQ(shown, (std::map<std::string, Lines>{
                       {"a/x.txt", {"  1: in the folder: tarn", "   → in the folder: fen"}},
                       {"a-1", {"  1: dash tarn", "   → dash fen"}},
                       {"a.txt", {"  2: tarn", "   → fen"}},
                       {"tarn-name-only", {}},
                       {"wide.txt", {"  2: tarn", "   → fen"}},
                       {"blob.bin", {"  0x5: 45 4C 46 00 74 61 72 6E 00  ELF.tarn.", "     → 45 4C 46 00 66 65 6E 00  ELF.fen."}},
                   }));
}

}  // namespace
}  // namespace tarnwick
