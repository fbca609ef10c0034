// Verified backup: snapshot, copy, read-back verification and folder lifecycle.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "common/worker_control.h"

namespace tarnwick {

struct BackupResult {
  std::string folder;  // the final backup folder path
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  bool operator==(const BackupResult&) const = default;
};

inline constexpr std::string_view kBackupCancelled = "Backup cancelled.";

// Copies the target into a new, verified backup folder inside destination.
// With a control, publishes its progress in control->backup and stops when a
// cancel is requested (between entries and between 64 KiB chunks), removing
// what it created: the failure text is then exactly kBackupCancelled, or, when
// something could not be removed, that text followed by what is left.
Result<BackupResult> create_backup_snapshot(std::string_view target, std::string_view destination,
                                            WorkerControl* control = nullptr);

// Refuses a path any of whose ancestors another account could write into.
Result<void> check_ancestor_safety(const std::string& path);

// Compares owner and group of a new file or folder (open descriptor) with its
// source and gives it the source's permission bits; never changes ownership.
// Refuses sources with setuid/setgid bits or extended attributes and new objects
// that inherited extended attributes. The error is a detail without a path
// (such as "Cannot preserve source owner/group; content editing refused" or a
// system error text); callers put it into their own path form.
Result<void> apply_source_security(const std::string& source_path, int new_fd);

// "Backup complete: {files} files / {bytes} bytes\n{path}\nYour selected files have not been changed."
std::string backup_complete_text(const BackupResult& result);
// The Apply result's backup lines, to follow the applied counts directly (it
// starts with the empty line): "\n\nOriginals backed up and verified\n{path}\n
// {files} files / {bytes} bytes\nThe backup keeps original names and data."
std::string backup_apply_note(const BackupResult& result);

}  // namespace tarnwick
