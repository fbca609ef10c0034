// The committed lower-case table is exactly what its generator makes from the
// installed Unicode Character Database (package unicode-data).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_tree.h"

namespace tarnwick {
namespace {

TEST(LowercaseTable, MatchesTheGeneratorOutput) {
  const char* root = std::getenv("TARNWICK_SOURCE_DIR");
  if (root == nullptr) GTEST_SKIP() << "TARNWICK_SOURCE_DIR is not set";
  if (!std::filesystem::exists("/usr/share/unicode/UnicodeData.txt")) GTEST_SKIP() << "unicode-data is not installed";
  const std::string generated =
      testing::command_output(std::string("python3 ") + root + "/scripts/generate-lowercase-table /usr/share/unicode");
  std::ifstream committed(std::string(root) + "/src/engine/lowercase_table.inc");
  std::stringstream text;
  text << committed.rdbuf();
  ASSERT_GT(generated.size(), 10'000u);
  EXPECT_TRUE(generated == text.str()) << "regenerate src/engine/lowercase_table.inc with scripts/generate-lowercase-table";
}

}  // namespace
}  // namespace tarnwick
