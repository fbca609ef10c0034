// The apply worker: verify, back up, verify again, then the journalled
// transaction; on any failure after the journal exists, the rollback.
#include <algorithm>

#include "common/text.h"
#include "engine/apply.h"

namespace tarnwick {

namespace {

std::string join_lines(std::string text, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) text.append("\n").append(line);
  return text;
}

ApplyOutcome outcome_of(const PreviewPlan& plan, const apply::Transaction& transaction,
                        std::optional<BackupResult> backup) {
  ApplyOutcome outcome;
  outcome.final_target_path = transaction.current_target();
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

// The forward way, phase by phase; the first failure stops it.
Result<void> run_forward(apply::Transaction& transaction) {
  TRY(transaction.write_journal());
  TRY(transaction.stage_contents());
  TRY(transaction.flush_journal());
  TRY(transaction.install_contents());
  TRY(transaction.rename_entries());
  return transaction.commit();
}

std::string cleanup_text(const apply::Transaction::Cleanup& cleanup) {
  if (!cleanup.recovery_files.empty()) {
    return join_lines(join_lines("Changes completed, but some original-data recovery files could not be removed. "
                                 "Remove them manually after checking your files:",
                                 cleanup.recovery_files),
                      cleanup.journal);
  }
  return join_lines("Changes completed, but the transaction journal could not be removed. Remove it manually:",
                    cleanup.journal);
}

ApplyFinished run_transaction(const PreviewPlan& plan, std::optional<BackupResult> backup) {
  auto begun = apply::Transaction::begin(plan);
  if (!begun) return ApplyFinished{fail(apply::with_backup_note(std::move(begun.error()), backup))};
  apply::Transaction& transaction = *begun;
  if (auto changed = run_forward(transaction); !changed) {
    const apply::Problems problems = transaction.roll_back();
    std::optional<std::string> kept;
    if (!problems.unrestored.empty() && !transaction.journal_removed()) kept = transaction.journal_path();
    return ApplyFinished{
        fail(apply::with_backup_note(
            apply::rollback_report(std::move(changed.error()), problems, backup.has_value(), kept), backup)),
        !problems.unrestored.empty() || !problems.leftovers.empty()};
  }
  const apply::Transaction::Cleanup cleanup = transaction.finish();
  if (!cleanup.recovery_files.empty() || !cleanup.journal.empty()) {
    return ApplyFinished{fail(apply::with_backup_note(cleanup_text(cleanup), backup)), true};
  }
  return ApplyFinished{outcome_of(plan, transaction, std::move(backup))};
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
