// Internals of the verified backup shared by its source files: limits, the
// snapshot identity, the source record and the state of one running backup.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "backup/backup.h"
#include "common/fs.h"
#include "common/result.h"

namespace tarnwick::backup {

inline constexpr std::size_t kMaxEntries = 50'000;             // target included
inline constexpr std::uint64_t kMaxPathStorageBytes = 16'777'216;  // 16 MiB of path text
inline constexpr std::size_t kChunkBytes = 65'536;               // copy and compare buffer
inline constexpr int kReserveAttempts = 128;
inline constexpr std::string_view kFolderPrefix = "Tarnwick-backup-";
inline constexpr std::string_view kIncompleteSuffix = "-INCOMPLETE";

struct ModificationTime {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
  bool operator==(const ModificationTime&) const = default;
};

// What the backup compares to notice any change of an entry.
struct SnapshotIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  nlink_t links = 0;
  mode_t mode = 0;  // all 16 bits, type included
  uid_t owner = 0;
  gid_t group = 0;
  off_t size = 0;
  std::optional<ModificationTime> modified;  // absent when the system reports nanoseconds >= 10^9
  bool is_directory = false;
  bool read_only = false;
  bool operator==(const SnapshotIdentity&) const = default;
};
SnapshotIdentity identity_of(const struct stat& status);

struct BackupEntry {
  std::string path;  // absolute
  SnapshotIdentity identity;
  bool operator==(const BackupEntry&) const = default;
};

// The file or folder this backup created, as it must still be when touched again.
struct CreatedIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool is_directory = false;
  bool operator==(const CreatedIdentity&) const = default;
};
CreatedIdentity created_identity_of(const struct stat& status);

// Byte order of paths compared component by component: "/" sorts before every
// other byte, so each folder precedes everything inside it.
bool component_less(std::string_view a, std::string_view b);
// a equals b or lies inside it.
bool is_same_or_inside(std::string_view path, std::string_view folder);
std::string parent_path(std::string_view path);      // "/a/b" -> "/a", "/a" -> "/"
std::string_view final_component(std::string_view path);  // "" for "/"

// lstat results a caller took a moment ago, handed to the next check so that
// the same path is not probed twice in a row. Never kept beyond that check.
struct FreshProbe {
  std::string path;
  struct stat status;
};
using FreshProbes = std::vector<FreshProbe>;

// check_ancestor_safety with the account look-ups of one backup kept, so each
// owner's private group is looked up once per backup.
class AncestorChecker {
 public:
  // Returns the lstat result of the path itself, the first one it probes.
  Result<struct stat> check(const std::string& absolute_path, const FreshProbes& fresh = {});

 private:
  bool is_private_group(uid_t owner, gid_t group);
  std::optional<uid_t> root_owner_;  // both learnt once per backup
  uid_t effective_user_ = 0;
  std::map<std::pair<uid_t, gid_t>, bool> private_groups_;
};

// Inspection of one source entry without following links; refusals carry the
// backup's messages. The second form inspects an lstat result just taken.
Result<SnapshotIdentity> inspect_source_entry(const std::string& path);
Result<SnapshotIdentity> inspect_source_entry(const std::string& path, const struct stat& status);

// The failure that ends a backup at its next check once a cancel is requested.
// Inline: it runs per entry and per chunk, and costs a load when nobody asked.
inline Result<void> stop_if_cancelled(const WorkerControl& control) {
  if (control.cancel_requested()) return fail(std::string(kBackupCancelled));
  return {};
}

// The sorted record of target and everything below it; stops between entries
// when a cancel is requested.
Result<std::vector<BackupEntry>> record_source(const std::string& target, const WorkerControl& control);

// The source entry still is as recorded: by path, and by an open descriptor.
Result<void> check_source_unchanged(AncestorChecker& checker, const BackupEntry& entry);
Result<void> check_open_source_unchanged(int fd, const BackupEntry& entry);
// Unchanged check by path, open read-only without following links, unchanged check by descriptor.
Result<sys::UniqueFd> open_source(AncestorChecker& checker, const BackupEntry& entry);

// The checks of apply_source_security without the final fchmod; the error is a
// detail text without a path. Returns the source's permission bits.
Result<mode_t> check_source_security(const std::string& source_path, int new_fd);

inline constexpr std::size_t kNoParent = SIZE_MAX;

// Everything one backup knows about what it recorded and what it created.
struct BackupState {
  explicit BackupState(WorkerControl& worker) : control(worker), progress(worker.backup) {}
  WorkerControl& control;
  BackupProgress& progress;
  AncestorChecker checker;
  std::string target;       // canonical source path
  std::string destination;  // canonical destination folder
  std::string container;    // the backup folder, named "...-INCOMPLETE" until finalised
  CreatedIdentity container_identity;
  std::vector<BackupEntry> record;
  std::vector<std::size_t> parents;  // record index of each entry's folder; kNoParent for the target
  std::vector<std::size_t> child_counts;  // entries directly inside each recorded folder
  std::vector<std::optional<CreatedIdentity>> created;

  std::string backup_path(std::size_t index) const;
  // Fills parents and created once the record is final.
  void index_record();
};

// The container is unchanged and every backup folder above entry index is the
// one this backup made. With probes, its lstat results are added there for the
// ancestor check that follows at once.
Result<void> check_container_and_parents(BackupState& state, std::size_t index, FreshProbes* probes = nullptr);

Result<sys::UniqueFd> open_completed_backup(AncestorChecker& checker, const std::string& backup_path,
                                            const CreatedIdentity& created, FreshProbes fresh = {});

// Folder lifecycle.
Result<std::string> reserve_backup_folder(const std::string& destination);
// Records the container's identity; on failure removes the still-empty folder again.
Result<CreatedIdentity> identify_reserved_folder(const std::string& container);
Result<BackupResult> finalize_backup(const BackupState& state, std::uint64_t files, std::uint64_t bytes);
std::vector<std::string> cleanup_incomplete_backup(BackupState& state);
std::string failed_backup_text(const std::string& error, const std::string& container,
                               const std::vector<std::string>& problems);
// Flushes a folder's entries to stable storage ("Cannot flush backup data").
Result<void> flush_folder(int fd, const std::string& path);

}  // namespace tarnwick::backup
