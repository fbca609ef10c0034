// Every refusal before or during the copy: the message, and a destination left
// exactly as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "backup/backup.h"
#include "backup_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;

struct Refusal {
  const char* name;
  // Builds the case below dir (which already holds src/a.txt and dest/) and
  // returns {target, destination}.
  std::function<std::pair<std::string, std::string>(TempDir&)> arrange;
  // The expected message, with {dir} standing for the temp folder.
  std::string message;
};

std::string expand(std::string text, const std::string& dir) {
  for (std::size_t at = text.find("{dir}"); at != std::string::npos; at = text.find("{dir}", at + dir.size())) {
    text.replace(at, 5, dir);
  }
  return text;
}

std::pair<std::string, std::string> usual(TempDir& dir) { return {dir / "src", dir / "dest"}; }

constexpr const char* kRemoved = "\nIncomplete backup removed. Original files were not changed.";
constexpr const char* kUnsafe =
    "Backup refused: ancestor is owned by another user or is writable by other users without sticky-directory "
    "protection\nPath: ";

const Refusal kRefusals[] = {
    {"Root", [](TempDir& dir) { return std::pair<std::string, std::string>("/", dir / "dest"); },
     "Select a named file or folder; filesystem roots cannot be snapshotted."},
    {"EmptyTarget", [](TempDir& dir) { return std::pair<std::string, std::string>("", dir / "dest"); },
     "Cannot resolve backup source: cannot make an empty path absolute\nPath: "},
    {"LinkInTargetAncestors",
     [](TempDir& dir) {
       dir.symlink("via", dir / "src");
       return std::pair(dir / "via/a.txt", dir / "dest");
     },
     "Backup refused: links are not supported\nPath: {dir}/via"},
    {"LinkInDestinationAncestors",
     [](TempDir& dir) {
       dir.folder("real/inner");
       dir.symlink("elsewhere", dir / "real");
       return std::pair(dir / "src", dir / "elsewhere/inner");
     },
     "Backup refused: links are not supported\nPath: {dir}/elsewhere"},
    {"LinkInsideTheTree",
     [](TempDir& dir) {
       dir.symlink("src/link", "a.txt");
       return usual(dir);
     },
     "Backup refused: links are not supported\nPath: {dir}/src/link"},
    {"DestinationInsideTarget",
     [](TempDir& dir) { return std::pair(dir / "src", dir.folder("src/backups")); },
     "Backup destination cannot be the selected target or inside it."},
    {"DestinationIsTarget", [](TempDir& dir) { return std::pair(dir / "src", dir / "src"); },
     "Backup destination cannot be the selected target or inside it."},
    {"DestinationIsAFile", [](TempDir& dir) { return std::pair(dir / "src", dir.file("plain")); },
     "Backup destination is not an existing directory: choose a folder\nPath: {dir}/plain"},
    {"HardLinkedFile",
     [](TempDir& dir) {
       dir.hardlink("outside.txt", "src/a.txt");
       return usual(dir);
     },
     "Backup refused: hardlinked files are not supported\nPath: {dir}/src/a.txt"},
    {"Fifo",
     [](TempDir& dir) {
       dir.fifo("src/pipe");
       return usual(dir);
     },
     "Backup refused: only ordinary files and directories are supported\nPath: {dir}/src/pipe"},
    {"SetuidFile",
     [](TempDir& dir) {
       dir.file("src/tool", "#!/bin/sh\n", 04755);
       return usual(dir);
     },
     "Cannot preserve backup metadata: Backup refused: setuid/setgid permissions cannot be preserved safely"
     "\nPath: {dir}/src/tool"},
    {"SetgidFolder",
     [](TempDir& dir) {
       dir.folder("src/team", 02755);
       return usual(dir);
     },
     "Cannot preserve backup metadata: Backup refused: setuid/setgid permissions cannot be preserved safely"
     "\nPath: {dir}/src/team"},
    {"UserExtendedAttribute",
     [](TempDir& dir) {
       EXPECT_EQ(testing::run_command("setfattr -n user.origin -v web '" + dir / "src/a.txt" + "'"), 0);
       return usual(dir);
     },
     "Cannot preserve backup metadata: Backup refused: source has extended attributes or an ACL"
     "\nPath: {dir}/src/a.txt"},
    {"AccessControlList",
     [](TempDir& dir) {
       EXPECT_EQ(testing::run_command("setfacl -m u:65534:r '" + dir / "src/a.txt" + "'"), 0);
       return usual(dir);
     },
     "Cannot preserve backup metadata: Backup refused: source has extended attributes or an ACL"
     "\nPath: {dir}/src/a.txt"},
    {"FileOfAnotherUser",
     [](TempDir& dir) {
       EXPECT_EQ(::chown(dir.file("src/theirs", "t").c_str(), 65534, static_cast<gid_t>(-1)), 0);
       return usual(dir);
     },
     std::string("Cannot preserve backup file security: Cannot preserve source owner/group; content editing "
                 "refused\nPath: {dir}/src/theirs") +
         kRemoved},
    {"FileOfAnotherGroup",
     [](TempDir& dir) {
       EXPECT_EQ(::chown(dir.file("src/theirs", "t").c_str(), static_cast<uid_t>(-1), 65534), 0);
       return usual(dir);
     },
     std::string("Cannot preserve backup file security: Cannot preserve source owner/group; content editing "
                 "refused\nPath: {dir}/src/theirs") +
         kRemoved},
    {"FolderOfAnotherUser",
     [](TempDir& dir) {
       EXPECT_EQ(::chown(dir.folder("src/theirs").c_str(), 65534, static_cast<gid_t>(-1)), 0);
       return usual(dir);
     },
     std::string(kUnsafe) + "{dir}/src/theirs" + kRemoved},
    {"WorldWritableDestination", [](TempDir& dir) { return std::pair(dir / "src", dir.folder("open", 0777)); },
     std::string(kUnsafe) + "{dir}/open"},
    {"GroupWritableDestinationOfASharedGroup",
     [](TempDir& dir) {
       // Group 65534 is nobody's private group; root does not own it.
       const std::string open = dir.folder("team", 0775);
       EXPECT_EQ(::chown(open.c_str(), static_cast<uid_t>(-1), 65534), 0);
       return std::pair(dir / "src", open);
     },
     std::string(kUnsafe) + "{dir}/team"},
    {"DestinationBelowAnotherUsersFolder",
     [](TempDir& dir) {
       const std::string theirs = dir.folder("theirs");
       dir.folder("theirs/inner");
       EXPECT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
       return std::pair(dir / "src", dir / "theirs/inner");
     },
     std::string(kUnsafe) + "{dir}/theirs"},
};

class BackupRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(BackupRefusal, RefusesWithItsMessageAndLeavesTheDestinationAsItWas) {
  TempDir dir;
  dir.file("src/a.txt", "alpha");
  dir.folder("dest");
  const auto [target, destination] = GetParam().arrange(dir);
  const auto source_before = testing::snapshot_tree(dir / "src");
  const auto destination_before = testing::snapshot_tree(destination);

  const auto result = create_backup_snapshot(target, destination);
  ASSERT_FALSE(result.has_value()) << "backup unexpectedly made: " << result->folder;
  EXPECT_EQ(result.error(), expand(GetParam().message, dir.path()));
  EXPECT_EQ(testing::describe_difference(source_before, testing::snapshot_tree(dir / "src")), "");
  EXPECT_EQ(testing::describe_difference(destination_before, testing::snapshot_tree(destination)), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, BackupRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& test_case) { return std::string(test_case.param.name); });

// The other side of the ancestor rule: root-owned sticky folders such as /tmp
// are safe, whoever may write into them.
TEST(BackupAncestors, AcceptsAStickyRootOwnedDestination) {
  TempDir dir;
  dir.file("src/a.txt", "alpha");
  const std::string shared = dir.folder("shared", 01777);
  const auto result = create_backup_snapshot(dir / "src", shared);
  ASSERT_TRUE(result.has_value()) << result.error();
  testing::expect_exact_backup(dir / "src", *result);
}

}  // namespace
}  // namespace tarnwick
