// Resulting names, collision keys, final paths and the destination probe.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "common/text.h"
#include "common/unicode_case.h"
#include "engine/name_rules.h"
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

// Keys are built from the parent's key and the name's key; the rule itself is
// stated on whole lower-cased paths. Random records over names that fold onto
// each other (final sigma, Kelvin sign, dotted I, invalid bytes) must give the
// same verdict as that statement, whatever the order of the records.
TEST(CollisionRule, AgreesWithWholePathKeysOnRandomRecords) {
  testing::TempDir dir;
  const std::string base = dir / "absent";  // nothing below exists: every destination probe finds nothing
  const std::string names[] = {"a",    "A",      "\xce\xa3",          "\xcf\x83",  "\xcf\x82",
                               "\xce\x9f\xce\xa3", "\xce\xbf\xcf\x82", "\xce\xbf\xcf\x83", "\xe2\x84\xaa", "k",
                               "K",    "\xc4\xb0",     "i\xcc\x87",         "\xff",      "x\xfe",
                               "Report.txt", "report.TXT"};
  std::mt19937 random(8081);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(names) - 1);
  std::uniform_int_distribution<int> depth(1, 3);
  int collisions = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<ScanRecord> records;
    std::map<std::string, int> originals;
    const int count = 2 + round % 14;
    for (int i = 0; i < count; ++i) {
      std::string parent = base;
      for (int level = depth(random); level > 1; --level) parent += "/" + std::string(names[pick(random)]);
      ScanRecord record;
      record.original_path = parent + "/" + names[pick(random)];
      if (originals[record.original_path]++ > 0) continue;
      record.own_renamed_path = random() % 3 == 0 ? parent + "/" + names[pick(random)] : record.original_path;
      records.push_back(std::move(record));
    }
    if (round % 2 == 1) std::sort(records.begin(), records.end(), [](const ScanRecord& a, const ScanRecord& b) {
      return a.original_path < b.original_path;
    });

    std::string expected;
    std::map<std::string, std::size_t> holders;
    for (std::size_t i = 0; i < records.size() && expected.empty(); ++i) {
      const auto [holder, added] = holders.try_emplace(lower_case_key(records[i].own_renamed_path), i);
      if (!added && records[holder->second].original_path != records[i].original_path) {
        expected = "Two entries would share the same name: " + lossy_utf8(records[holder->second].original_path) +
                   " and " + lossy_utf8(records[i].original_path) + ".";
      }
    }
    const auto verdict = check_collisions_and_destinations(records);
    ASSERT_EQ(verdict ? std::string() : verdict.error(), expected) << "round " << round;
    collisions += expected.empty() ? 0 : 1;
  }
  EXPECT_GT(collisions, 500) << "the names should fold onto each other often";
}

// A renamed folder keeps its children's keys under its unchanged path, so they
// still meet the children of a folder whose name differs from it only in case.
TEST(CollisionRule, ChildrenOfCaseTwinFoldersMeetEvenWhenOneFolderIsRenamed) {
  const auto record = [](const std::string& original, const std::string& renamed) {
    ScanRecord r;
    r.original_path = original;
    r.own_renamed_path = renamed;
    return r;
  };
  const std::vector<ScanRecord> records = {record("/absent-root/X/Foo", "/absent-root/X/bar"),
                                           record("/absent-root/X/Foo/a", "/absent-root/X/Foo/a"),
                                           record("/absent-root/X/FOO", "/absent-root/X/FOO"),
                                           record("/absent-root/X/FOO/A", "/absent-root/X/FOO/A")};
  EXPECT_EQ(check_collisions_and_destinations(records).error(),
            "Two entries would share the same name: /absent-root/X/Foo/a and /absent-root/X/FOO/A.");
  // Relative paths (a walk never makes them) are keyed from an empty folder.
  const std::vector<ScanRecord> relative = {record("x/Foo", "x/Foo"), record("x/FOO", "x/FOO")};
  EXPECT_EQ(check_collisions_and_destinations(relative).error(),
            "Two entries would share the same name: x/Foo and x/FOO.");
}

}  // namespace
}  // namespace tarnwick
