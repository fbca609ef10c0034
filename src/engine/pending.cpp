// Placeholders until the engine's workers land; each refuses instead of pretending.
#include "engine/engine.h"

namespace tarnwick {

BackupFinished run_backup_only(std::string, std::string) {
  return BackupFinished{fail("Backup is not available in this build.")};
}

}  // namespace tarnwick
