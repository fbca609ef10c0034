// The request's extension-list normalisation and the held-preview comparison.
#include <gtest/gtest.h>

#include "engine/engine.h"

namespace tarnwick {
namespace {

using Strings = std::vector<std::string>;

TEST(NormalizeExtensionList, SplitsTrimsStripsAndLowerCases) {
  EXPECT_EQ(normalize_extension_list(".TXT; md,,  .Log"), (Strings{"txt", "md", "log"}));
  EXPECT_EQ(normalize_extension_list("a\nb;c,d e"), (Strings{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(normalize_extension_list(". ... x"), (Strings{"", "", "x"})) << "full stops only: the empty extension";
  EXPECT_EQ(normalize_extension_list("\t.Tar.GZ\u3000,\u00a0"), (Strings{"tar.gz"})) << "Unicode white space trimmed";
  EXPECT_EQ(normalize_extension_list("\xc3\x84Z"), (Strings{"\xc3\x84z"})) << "only ASCII letters lower-cased";
  EXPECT_EQ(normalize_extension_list(""), Strings{});
  EXPECT_EQ(normalize_extension_list(" ,;\n"), Strings{});
}

TEST(SameRequest, TargetsCompareByComponentsEverythingElseByValue) {
  OperationRequest a;
  a.target = "/home/user/project";
  a.find = "old";
  OperationRequest b = a;
  EXPECT_TRUE(same_request(a, b));
  for (const char* same : {"/home//user/project/", "/home/user/./project", "//home/user/project//"}) {
    b.target = same;
    EXPECT_TRUE(same_request(a, b)) << same;
  }
  for (const char* other : {"home/user/project", "/home/user/project/..", "/home/user", "/home/user/Project"}) {
    b.target = other;
    EXPECT_FALSE(same_request(a, b)) << other;
  }
  b = a;
  const auto differs = [&](auto change) {
    OperationRequest changed = a;
    change(changed);
    return !same_request(a, changed);
  };
  EXPECT_TRUE(differs([](OperationRequest& r) { r.max_depth = 3; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.extension_filter.mode = ExtensionFilter::Mode::ExcludeListed; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.extension_filter.extensions = {"txt"}; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.find = "Old"; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.replacement = "x"; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.encoding.kind = EncodingKind::Utf16Le; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.encoding = {EncodingKind::CodePage, 1252}; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.resizable_binary = true; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.content_mode = ContentMode::BinaryOnly; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.match_case = true; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.include_folder_contents = false; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.edit_contents = true; }));
  EXPECT_TRUE(differs([](OperationRequest& r) { r.preserve_case = true; }));
}

TEST(SameRequest, PreserveCaseCountsOnlyWhileMatchCaseIsOff) {
  OperationRequest exact;
  exact.find = "old";
  exact.match_case = true;
  OperationRequest preserving = exact;
  preserving.preserve_case = true;
  EXPECT_FALSE(preserves_case(preserving));
  EXPECT_TRUE(same_request(exact, preserving)) << "with match case on it does nothing";
  EXPECT_FALSE(replacement_of(preserving).preserves_case());
  exact.match_case = preserving.match_case = false;
  EXPECT_TRUE(preserves_case(preserving));
  EXPECT_FALSE(same_request(exact, preserving));
}

}  // namespace
}  // namespace tarnwick
