// Resulting names, collision keys, final paths and the destination probe.
#include <gtest/gtest.h>

#include "engine/name_rules.h"
#include "engine/unicode_text.h"
#include "support/temp_tree.h"

namespace tarnwick {
namespace {

std::string invalid(std::string_view name) {
  return "Invalid resulting file/folder name: " + std::string(name) +
         ". Use a valid Windows name without path separators.";
}
std::string reserved(std::string_view name) { return "Reserved Windows filename: " + std::string(name) + "."; }
constexpr std::string_view kTooLong = "A resulting name exceeds 255 characters/bytes.";

TEST(CheckNewName, WindowsValidityLengthAndReservedDevices) {
  std::string outside_bmp;
  for (int i = 0; i < 128; ++i) outside_bmp += "\xf0\x9f\x98\x80";  // 256 UTF-16 units, 512 bytes
  std::string bmp_127;
  for (int i = 0; i < 127; ++i) bmp_127 += "\xf0\x9f\x98\x80";  // 254 units, 508 bytes
  const std::pair<std::string, std::string> table[] = {
      {"", invalid("")},
      {".", invalid(".")},
      {"..", invalid("..")},
      {"report.txt.", invalid("report.txt.")},
      {"report ", invalid("report ")},
      {"a\tb", invalid("a\tb")},
      {std::string("a\x1f" "b"), invalid("a\x1f" "b")},
      {"a<b", invalid("a<b")}, {"a>b", invalid("a>b")}, {"a:b", invalid("a:b")}, {"a\"b", invalid("a\"b")},
      {"a/b", invalid("a/b")}, {"a\\b", invalid("a\\b")}, {"a|b", invalid("a|b")}, {"a?b", invalid("a?b")},
      {"a*b", invalid("a*b")},
      {std::string(255, 'n'), ""},
      {std::string(256, 'n'), std::string(kTooLong)},
      {std::string(256, 'n') + ".", invalid(std::string(256, 'n') + ".")},  // validity is checked first
      {outside_bmp, std::string(kTooLong)},
      {bmp_127, std::string(kTooLong)},  // 254 units but 508 bytes
      {"con.txt", reserved("con.txt")},
      {"Con .log", reserved("Con .log")},
      {"LPT1", reserved("LPT1")},
      {"com\xc2\xb2", reserved("com\xc2\xb2")},
      {"Lpt\xc2\xb9.x", reserved("Lpt\xc2\xb9.x")},
      {"aux.tar.gz", reserved("aux.tar.gz")},
      {"CONOUT$", reserved("CONOUT$")},
      {"nul", reserved("nul")},
      {"COM0", ""}, {"CONSOLE", ""}, {"LPT10", ""}, {"xcon", ""}, {"auxiliary.txt", ""}, {"com\xc2\xb2x", ""},
      {"co", ""}, {" con", ""}, {"\xc3\x84rger.txt", ""},
  };
  for (const auto& [name, expected] : table) {
    const auto result = check_new_name(name);
    EXPECT_EQ(result ? std::string() : result.error(), expected) << "name: " << name;
  }
}

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

TEST(FinalPaths, ThroughRenamedAncestorsAndWithinTheBudget) {
  const RenameMap renames = {{"/r/old", "/r/new"}, {"/r/old/a-old", "/r/old/a-new"}, {"/r/old/a-old/f", "/r/old/a-old/g"}};
  EXPECT_EQ(final_path_through("/r/old/a-old/f", renames), "/r/new/a-new/g");
  EXPECT_EQ(final_path_through("/r/old/x", renames), "/r/new/x");
  EXPECT_EQ(final_path_through("/r/older", renames), "/r/older");
  EXPECT_EQ(final_path_through("/r", RenameMap{}), "/r");

  FinalPathBudget budget;
  EXPECT_TRUE(budget.add(std::string(4095, 'p')).has_value());
  EXPECT_EQ(budget.add(std::string(4096, 'p')).error(),
            "Resulting path exceeds the supported filesystem path length: shorten the replacement or choose a "
            "shallower folder.\nPath: " + std::string(4096, 'p'));
  FinalPathBudget total;
  const std::string path(4000, 'q');
  for (int i = 0; i < 4194; ++i) ASSERT_TRUE(total.add(path).has_value());  // 16,776,000 bytes
  EXPECT_TRUE(total.add(std::string(1216, 'q')).has_value()) << "exactly 16 MiB is allowed";
  EXPECT_EQ(total.add("/").error(),
            "Final destination path storage exceeds 16 MiB. Shorten the replacement or narrow the selection.");
}

TEST(CollisionRule, FirstRecordNamedFirstAndTheDestinationProbed) {
  testing::TempDir dir;
  const auto record = [&](const std::string& original, const std::string& renamed) {
    ScanRecord r;
    r.original_path = dir / original;
    r.own_renamed_path = dir / renamed;
    return r;
  };
  const std::vector<ScanRecord> twins = {record("Report.txt", "Report.txt"), record("a", "a"),
                                         record("report.TXT", "report.TXT")};
  EXPECT_EQ(check_collisions_and_destinations(twins).error(),
            "Two entries would share the same name: " + dir / "Report.txt" + " and " + dir / "report.TXT" + ".");
  // The same record twice (a case-only rename of itself) is no collision.
  const std::vector<ScanRecord> case_only = {record("Report.txt", "report.txt")};
  EXPECT_TRUE(check_collisions_and_destinations(case_only).has_value());

  dir.file("taken");
  const std::vector<ScanRecord> taken = {record("free", "taken")};
  EXPECT_EQ(check_collisions_and_destinations(taken).error(),
            "Rename destination already exists: nothing has been changed\nPath: " + dir / "taken");
  dir.file("plain-file");
  const std::vector<ScanRecord> unprobeable = {record("x", "plain-file/y")};
  EXPECT_EQ(check_collisions_and_destinations(unprobeable).error(),
            "Cannot verify destination: Not a directory (os error 20)\nPath: " + dir / "plain-file/y");
}

}  // namespace
}  // namespace tarnwick
