// Proof that the filesystem still matches the plan, the backup destination's
// preparation, and the path arithmetic of renamed ancestors.
#include <algorithm>
#include <cerrno>

#include "common/text.h"
#include "engine/apply.h"
#include "engine/name_rules.h"
#include "engine/scan.h"

namespace tarnwick::apply {

namespace {

// Component-wise: "/a/b" is inside "/a", "/ab" is not.
bool is_same_or_inside(const std::string& path, const std::string& folder) {
  if (path == folder || folder == "/") return true;
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

}  // namespace

std::uint64_t verify_read_limit(std::string_view expected) {
  return std::max<std::uint64_t>(kVerifyReadLimitBytes, expected.size());
}

Result<void> verify_record(const ScanRecord& record) {
  const std::string& path = record.original_path;
  const auto status = sys::lstat(path);
  if (!status) return fail(path_error("Selection changed since preview", status.error(), path));
  const bool hardlinked = S_ISREG(status->st_mode) && status->st_nlink >= 2;
  if (S_ISLNK(status->st_mode) || hardlinked || !(identity_of(*status) == record.identity)) {
    return fail(path_form("Selection changed since preview", "create a fresh preview", path));
  }
  if (record.original_bytes) {
    const std::string bytes = TRY(read_file_bounded(path, verify_read_limit(*record.original_bytes)));
    if (bytes != *record.original_bytes) {
      return fail(path_form("File data changed since preview", "create a fresh preview", path));
    }
  }
  if (record.folder_listing) {
    const std::vector<std::string> listing = TRY(list_folder(path));
    if (listing != *record.folder_listing) {
      return fail(path_form("Folder contents changed since preview", "create a fresh preview", path));
    }
  }
  return {};
}

Result<void> verify_plan(const PreviewPlan& plan, ApplyPhase phase, WorkerControl& control) {
  control.apply.begin(phase, plan.scan_records.size());
  TRY(probe_path_and_ancestors(plan.target_path));
  for (const ScanRecord& record : plan.scan_records) {
    if (control.cancel_requested()) return fail(std::string(kApplyCancelled));
    TRY(verify_record(record));
    control.apply.advance();
  }
  return check_collisions_and_destinations(plan.scan_records);
}

Result<std::string> prepare_backup_destination(const std::string& destination, const std::string& final_target) {
  constexpr std::string_view kLead = "Cannot resolve backup destination";
  if (destination.empty()) return fail(path_form(kLead, "cannot make an empty path absolute", destination));
  std::string absolute = destination;
  if (destination.front() != '/') {
    const auto current = sys::getcwd();
    if (!current) return fail(path_error(kLead, current.error(), destination));
    absolute = *current == "/" ? "/" + destination : *current + "/" + destination;
  }
  TRY(probe_path_and_ancestors(absolute, kInspectBackupDestination));
  const auto canonical = sys::realpath(absolute);
  if (!canonical) return fail(path_error(kLead, canonical.error(), absolute));
  if (is_same_or_inside(*canonical, final_target)) {
    return fail("Backup destination cannot be the final renamed target or inside it.");
  }
  return *canonical;
}

std::string with_backup_note(std::string failure, const std::optional<BackupResult>& backup) {
  if (!backup) return failure;
  return failure + "\nComplete original backup retained at: " + backup->folder;
}

std::string planned_final_target(const PreviewPlan& plan) {
  for (const ChangeEntry& change : plan.changes) {
    if (change.original_path == plan.target_path) return change.final_path;
  }
  return plan.target_path;
}

}  // namespace tarnwick::apply
