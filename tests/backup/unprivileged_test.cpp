// Backups run by an ordinary desktop user: a private group, umask 002, and the
// group-writable folders that come with it. The backup runs in a separate
// program started through setpriv as a user made for the test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "backup_support.h"

namespace tarnwick {
namespace {

using testing::TempDir;

// useradd and usermod fail while another process holds the account files' locks.
int run_with_retries(const std::string& command) {
  int status = -1;
  for (int attempt = 0; attempt < 30 && status != 0; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    status = testing::run_command(command);
  }
  return status;
}

// An account with its own private group (useradd -U), removed again at the end.
class ScopedUser {
 public:
  explicit ScopedUser(std::string name) : name_(std::move(name)) {
    created_ = run_with_retries("useradd -U -M -s /usr/sbin/nologin " + name_) == 0;
    if (!created_) return;
    uid_ = std::stoul(testing::command_output("id -u " + name_));
    gid_ = std::stoul(testing::command_output("id -g " + name_));
  }
  ~ScopedUser() {
    if (created_) run_with_retries("userdel " + name_ + " 2>/dev/null");
  }
  ScopedUser(const ScopedUser&) = delete;
  ScopedUser& operator=(const ScopedUser&) = delete;

  bool created() const { return created_; }
  const std::string& name() const { return name_; }
  uid_t uid() const { return uid_; }
  // Runs a shell command as this user, with no supplementary groups and umask 002.
  std::string run(const std::string& command) const {
    return testing::command_output("umask 002 && env ASAN_OPTIONS=detect_leaks=0 setpriv --reuid=" +
                                   std::to_string(uid_) + " --regid=" + std::to_string(gid_) +
                                   " --clear-groups -- sh -c '" + command + "' 2>&1");
  }

 private:
  std::string name_;
  bool created_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
};

mode_t mode_of(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

TEST(BackupUnprivileged, PrivateGroupFoldersAreAcceptedUntilTheGroupGainsAMember) {
  const std::string stem = "tkbk" + std::to_string(::getpid());
  ScopedUser owner(stem + "a");
  ASSERT_TRUE(owner.created());
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string home = dir.folder("home", 0755);
  ASSERT_EQ(::chown(home.c_str(), owner.uid(), static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(testing::run_command("chgrp " + owner.name() + " '" + home + "'"), 0);
  // The user makes the tree as a desktop session would: umask 002 gives 0775
  // folders and 0664 files, group the user's private group.
  EXPECT_EQ(owner.run("chmod 0775 " + home + " && cd " + home +
                      " && mkdir -p proj/sub proj/frozen dest && printf one > proj/a.txt"
                      " && printf two > proj/sub/b.txt && printf three > proj/frozen/c.txt && chmod 0555 proj/frozen"),
            "");
  ASSERT_EQ(mode_of(home + "/proj/sub"), 0775u);
  const std::string probe = dir / "backup_probe";
  ASSERT_EQ(testing::run_command(std::string("cp '") + TARNWICK_BACKUP_PROBE + "' '" + probe + "'"), 0);

  const std::string output = owner.run(probe + " " + home + "/proj " + home + "/dest");
  const std::string folder = output.substr(0, output.find('\n'));
  ASSERT_TRUE(folder.starts_with(home + "/dest/Tarnwick-backup-")) << output;
  EXPECT_EQ(output.substr(folder.size()), "\n3\n11");
  testing::expect_exact_backup(home + "/proj", BackupResult{folder, 3, 11});
  EXPECT_EQ(mode_of(folder + "/proj"), 0775u);
  EXPECT_EQ(mode_of(folder + "/proj/sub"), 0775u);
  EXPECT_EQ(mode_of(folder + "/proj/frozen"), 0555u);
  struct stat status {};
  ASSERT_EQ(::lstat(folder.c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, owner.uid());

  // Once another account is a member, the group can write into the folders.
  ScopedUser other(stem + "b");
  ASSERT_TRUE(other.created());
  ASSERT_EQ(run_with_retries("usermod -a -G " + owner.name() + " " + other.name()), 0);
  EXPECT_EQ(owner.run(probe + " " + home + "/proj " + home + "/dest"),
            "Backup refused: ancestor is owned by another user or is writable by other users without "
            "sticky-directory protection\nPath: " +
                home + "/proj");
  EXPECT_EQ(testing::list_names(home + "/dest").size(), 1u);
}

}  // namespace
}  // namespace tarnwick
