// The backup-only worker ("Back up now"): one verified backup, one event.
#include "engine/engine.h"

namespace tarnwick {

BackupFinished run_backup_only(std::string target, std::string destination) {
  return BackupFinished{create_backup_snapshot(target, destination)};
}

}  // namespace tarnwick
