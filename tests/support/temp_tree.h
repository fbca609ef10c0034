// Temp-folder trees for tests: declare files, folders, links, modes and xattrs
// in a few lines, snapshot a tree, and compare snapshots.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tarnwick::testing {

// A fresh folder under the system temp folder, removed (with everything in it,
// whatever its modes) on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const;

  // Each creates missing parent folders (mode 0755) and returns the absolute path.
  std::string file(const std::string& relative, const std::string& content = {}, mode_t mode = 0644);
  std::string folder(const std::string& relative, mode_t mode = 0755);
  std::string symlink(const std::string& relative, const std::string& link_target);
  std::string hardlink(const std::string& relative, const std::string& existing_relative);
  std::string fifo(const std::string& relative);
  void xattr(const std::string& relative, const std::string& name, const std::string& value);
  void chmod(const std::string& relative, mode_t mode);

 private:
  std::string path_;
};

// While it lives, new TempDirs are made on a fresh tmpfs, where flushes cost
// nothing: for sweeps that run an operation thousands of times. Where this
// process may not mount (no root), it changes nothing.
class FastTempRoot {
 public:
  FastTempRoot();
  ~FastTempRoot();
  FastTempRoot(const FastTempRoot&) = delete;
  FastTempRoot& operator=(const FastTempRoot&) = delete;

 private:
  std::optional<std::string> mount_point_;
  std::optional<std::string> previous_tmpdir_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content, mode_t mode = 0644);
bool exists(const std::string& path);  // without following links

// One entry of a snapshot: type, permission bits, content or link target.
struct SnapshotEntry {
  char type = '?';  // 'f' file, 'd' folder, 'l' link, 'p' fifo, '?' other
  mode_t mode = 0;
  std::string content;  // file bytes or link target
  bool operator==(const SnapshotEntry&) const = default;
};
using TreeSnapshot = std::map<std::string, SnapshotEntry>;  // relative path -> entry

// Records names, modes and contents below root (root itself as "").
TreeSnapshot snapshot_tree(const std::string& root);
// A readable difference, empty when equal.
std::string describe_difference(const TreeSnapshot& expected, const TreeSnapshot& actual);

// Runs a shell command, returns its exit status; output goes to the test log.
int run_command(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string command_output(const std::string& command);

}  // namespace tarnwick::testing
