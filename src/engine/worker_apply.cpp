// The apply worker: verify, back up, verify again, change, clean up or roll back.
#include <algorithm>

#include "common/text.h"
#include "engine/apply.h"

namespace tarnwick {

namespace {

std::string join_lines(std::string text, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) text.append("\n").append(line);
  return text;
}

std::string rollback_text(const std::string& failure, const std::vector<std::string>& problems) {
  if (problems.empty()) return failure + "\nApplied changes were rolled back.";
  return join_lines(failure + "\nRecovery is incomplete. Preserve these files and restore from your backup:", problems);
}

ApplyOutcome outcome_of(const PreviewPlan& plan, const apply::Journal& journal, std::optional<BackupResult> backup) {
  ApplyOutcome outcome;
  outcome.final_target_path = final_path_through(plan.target_path, apply::rename_map(journal.renames));
  outcome.backup = std::move(backup);
  for (const ChangeEntry& change : plan.changes) {
    outcome.names_changed += change.name_changes ? 1 : 0;
    outcome.files_edited += change.content_changes ? 1 : 0;
    outcome.literal_replacements = saturating_add(outcome.literal_replacements, change.literal_count);
  }
  return outcome;
}

// The backup, when a destination was given. Its failures leave the target as it
// was, so the plan goes back with them.
Result<std::optional<BackupResult>> back_up(const PreviewPlan& plan, const std::optional<std::string>& destination) {
  if (!destination) return std::nullopt;
  const std::string canonical = TRY(apply::prepare_backup_destination(*destination, apply::planned_final_target(plan)));
  return TRY(create_backup_snapshot(plan.target_path, canonical));
}

ApplyFinished run_transaction(const PreviewPlan& plan, std::optional<BackupResult> backup) {
  apply::Journal journal;
  auto changed = apply::run_content_phase(plan, journal);
  if (changed) changed = apply::run_rename_phase(plan, journal);
  if (!changed) {
    const std::vector<std::string> problems = apply::roll_back(journal);
    return ApplyFinished{fail(apply::with_backup_note(rollback_text(changed.error(), problems), backup)),
                         journal.temporary_files_left || !problems.empty()};
  }

  const std::vector<std::string> problems = apply::run_final_cleanup(journal);
  if (!problems.empty()) {
    return ApplyFinished{fail(apply::with_backup_note(
                             join_lines("Changes completed, but some original-data recovery files could not be "
                                        "removed. Remove them manually after checking your files:",
                                        problems),
                             backup)),
                         true};
  }
  return ApplyFinished{outcome_of(plan, journal, std::move(backup))};
}

}  // namespace

ApplyFinished run_apply(PreviewPlan plan, std::optional<std::string> backup_destination) {
  // A selection changed since the preview makes the plan useless: it is dropped.
  if (auto verified = apply::verify_plan(plan); !verified) return ApplyFinished{fail(std::move(verified.error()))};
  auto backup = back_up(plan, backup_destination);
  if (!backup) return ApplyFinished{fail(std::move(backup.error())), false, std::move(plan)};
  // The backup may have taken long: everything is proved again right before the first change.
  if (auto again = apply::verify_plan(plan); !again) {
    return ApplyFinished{fail(apply::with_backup_note(std::move(again.error()), *backup))};
  }
  return run_transaction(plan, std::move(*backup));
}

}  // namespace tarnwick
