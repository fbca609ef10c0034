// Full lower-casing, and the committed table being exactly what its generator
// makes from the installed Unicode Character Database (package unicode-data).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/unicode_case.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

TEST(LowerCaseKey, FullMappingsAndInvalidBytesKept) {
  EXPECT_EQ(lower_case_key("/Tmp/Report.TXT"), "/tmp/report.txt");
  EXPECT_EQ(lower_case_key("\xc3\x84rger"), "\xc3\xa4rger");                 // Ä -> ä
  EXPECT_EQ(lower_case_key("\xc4\xb0stanbul"), "i\xcc\x87stanbul");           // İ -> i + combining dot
  EXPECT_EQ(lower_case_key("\xe2\x84\xaa"), "k");                            // Kelvin sign
  EXPECT_EQ(lower_case_key("\xce\x9f\xce\x94\xce\x9f\xce\xa3"), "\xce\xbf\xce\xb4\xce\xbf\xcf\x82");  // final sigma
  EXPECT_EQ(lower_case_key("\xce\xa3\xce\x91"), "\xcf\x83\xce\xb1");        // not final: σ
  EXPECT_EQ(lower_case_key("\xce\xa3"), "\xcf\x83");                         // alone: σ
  EXPECT_EQ(lower_case_key("\xf0\x90\x90\x80"), "\xf0\x90\x90\xa8");        // Deseret, outside the BMP
  EXPECT_EQ(lower_case_key("M\xfc" "LLER"), "m\xfc" "ller");
  EXPECT_NE(lower_case_key("M\xfcller"), lower_case_key("M\xf6ller"));
  EXPECT_EQ(lower_case_key("\xc3\x84\xff"), "\xc3\xa4\xff");
}

TEST(LowercaseTable, MatchesTheGeneratorOutput) {
  const char* root = std::getenv("TARNWICK_SOURCE_DIR");
  if (root == nullptr) GTEST_SKIP() << "TARNWICK_SOURCE_DIR is not set";
  if (!std::filesystem::exists("/usr/share/unicode/UnicodeData.txt")) GTEST_SKIP() << "unicode-data is not installed";
  const std::string generated =
      testing::command_output(std::string("python3 ") + root + "/scripts/generate-lowercase-table /usr/share/unicode");
  std::ifstream committed(std::string(root) + "/src/common/lowercase_table.inc");
  std::stringstream text;
  text << committed.rdbuf();
  ASSERT_GT(generated.size(), 10'000u);
  EXPECT_TRUE(generated == text.str()) << "regenerate src/common/lowercase_table.inc with scripts/generate-lowercase-table";
}

}  // namespace
}  // namespace tarnwick
