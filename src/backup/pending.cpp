// Placeholders until the backup subsystem lands; each refuses instead of pretending.
#include "backup/backup.h"

namespace tarnwick {

Result<BackupResult> create_backup_snapshot(std::string_view, std::string_view) {
  return fail("Backup is not available in this build.");
}
Result<void> check_ancestor_safety(const std::string&) { return fail("Backup is not available in this build."); }
Result<void> apply_source_security(const std::string&, int) {
  return fail("Backup is not available in this build.");
}
std::string backup_complete_text(const BackupResult&) { return {}; }
std::string backup_apply_note(const BackupResult&) { return {}; }

}  // namespace tarnwick
