// Placeholders until the engine's workers land; each refuses instead of pretending.
#include "engine/engine.h"

namespace tarnwick {

std::vector<std::string> normalize_extension_list(std::string_view) { return {}; }
bool same_request(const OperationRequest&, const OperationRequest&) { return false; }
PreviewFinished run_preview(OperationRequest request) {
  return PreviewFinished{std::move(request), fail("Preview is not available in this build.")};
}
BackupFinished run_backup_only(std::string, std::string) {
  return BackupFinished{fail("Backup is not available in this build.")};
}
bool spawn_worker(std::function<WorkerEvent()>, EventSender) { return false; }

}  // namespace tarnwick
