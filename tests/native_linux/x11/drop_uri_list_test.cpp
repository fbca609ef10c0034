// The dropped uri-list: one local file URI is accepted, everything else refused.
#include "native_linux/x11/drop_uri_list.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

struct UriCase {
  const char* name;
  std::string list;
  Result<std::string> expected;
};

class UriListTest : public ::testing::TestWithParam<UriCase> {};

TEST_P(UriListTest, ParsesOrRefuses) {
  const UriCase& c = GetParam();
  EXPECT_EQ(parse_uri_list(c.list), c.expected) << c.list;
}

const char* const kMalformed = "The dropped file URI is malformed.";
const char* const kInvalidUtf8 = "Drop a file with a valid UTF-8 path.";

INSTANTIATE_TEST_SUITE_P(
    Cases, UriListTest,
    ::testing::Values(
        UriCase{"plain", "file:///home/a/Tarn\r\n", "/home/a/Tarn"},
        UriCase{"comment", "# from a file manager\r\nfile:///tmp/x\r\n", "/tmp/x"},
        UriCase{"padded", "  \n\t file:///tmp/x \t\n\n", "/tmp/x"},
        UriCase{"localhost", "file://localhost/tmp/x", "/tmp/x"},
        UriCase{"escapes", "file:///tmp/a%20b/%C3%A9%c3%a9", "/tmp/a b/éé"},
        UriCase{"empty", "", fail("Drop one file or folder.")},
        UriCase{"only comments", "#a\r\n# b\n   \n", fail("Drop one file or folder.")},
        UriCase{"two", "file:///a\r\nfile:///b\r\n", fail("Drop one file or folder at a time.")},
        UriCase{"http", "https://example.org/x", fail("Only local files and folders can be dropped.")},
        UriCase{"bare path", "/tmp/x", fail("Only local files and folders can be dropped.")},
        UriCase{"host", "file://server/share/x", fail("Remote file locations cannot be dropped.")},
        UriCase{"localhost without path", "file://localhost", fail("Remote file locations cannot be dropped.")},
        UriCase{"nothing after scheme", "file://", fail("Remote file locations cannot be dropped.")},
        UriCase{"query", "file:///tmp/x?y", fail(kMalformed)},
        UriCase{"fragment", "file:///tmp/x#y", fail(kMalformed)},
        UriCase{"short escape at end", "file:///tmp/x%2", fail(kMalformed)},
        UriCase{"lone percent", "file:///tmp/x%", fail(kMalformed)},
        UriCase{"non-hex escape", "file:///tmp/%G0", fail(kMalformed)},
        UriCase{"invalid utf-8", "file:///tmp/%FF", fail(kInvalidUtf8)},
        UriCase{"raw invalid utf-8", "file:///tmp/\xC3", fail(kInvalidUtf8)},
        UriCase{"escaped line feed", "file:///tmp/a%0Ab", fail("Dropped paths cannot contain control characters.")},
        UriCase{"escaped C1 control", "file:///tmp/a%C2%85", fail("Dropped paths cannot contain control characters.")},
        UriCase{"escaped delete", "file:///tmp/a%7F", fail("Dropped paths cannot contain control characters.")}),
    [](const ::testing::TestParamInfo<UriCase>& case_info) {
      std::string name = case_info.param.name;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

// A file manager's copy pasted into a path field: by the drop's rules and messages.
TEST(PastedFiles, UriListsCopiedFilesAndPlainTextFileUris) {
  EXPECT_EQ(path_from_uri_list("file:///tmp/a%20b\r\n"), Result<std::string>("/tmp/a b"));
  EXPECT_EQ(path_from_uri_list("file:///tmp/\xFF"), Result<std::string>(fail(kInvalidUtf8)));
  EXPECT_EQ(path_from_copied_files("copy\nfile:///tmp/x"), Result<std::string>("/tmp/x"));
  EXPECT_EQ(path_from_copied_files("cut\r\nfile:///tmp/x\r\n"), Result<std::string>("/tmp/x"));
  EXPECT_EQ(path_from_copied_files("file:///tmp/x"), Result<std::string>("/tmp/x")) << "without the action line";
  EXPECT_EQ(path_from_copied_files("copy\nfile:///a\nfile:///b"),
            Result<std::string>(fail("Drop one file or folder at a time.")));
  EXPECT_EQ(path_from_copied_files("copy\n"), Result<std::string>(fail("Drop one file or folder.")));

  EXPECT_EQ(path_from_pasted_text("  file:///tmp/%C3%A9t%C3%A9\n"), std::optional(Result<std::string>("/tmp/été")));
  EXPECT_EQ(path_from_pasted_text("file://server/share"),
            std::optional(Result<std::string>(fail("Remote file locations cannot be dropped."))));
  EXPECT_EQ(path_from_pasted_text("file:///a\nfile:///b"),
            std::optional(Result<std::string>(fail("Drop one file or folder at a time."))));
  EXPECT_FALSE(path_from_pasted_text("/tmp/plain path")) << "pasted as it is";
  EXPECT_FALSE(path_from_pasted_text("see file:///tmp/x"));
}

}  // namespace
}  // namespace tarnwick
