// The backup-only worker ("Back up now"): one verified backup, one event.
#include "engine/engine.h"

namespace tarnwick {

BackupFinished run_backup_only(std::string target, std::string destination, WorkerControl* control) {
  Result<BackupResult> result = create_backup_snapshot(target, destination, control);
  const bool cancelled = !result && result.error() == kBackupCancelled;
  return BackupFinished{std::move(result), cancelled};
}

}  // namespace tarnwick
