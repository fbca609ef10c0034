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
Result<std::optional<BackupResult>> back_up(const PreviewPlan& plan, const std::optional<std::string>& destination,
                                            WorkerControl& control) {
  if (!destination) return std::nullopt;
  control.apply.begin(ApplyPhase::BackingUp, 0);
  const std::string canonical = TRY(apply::prepare_backup_destination(*destination, apply::planned_final_target(plan)));
  return TRY(create_backup_snapshot(plan.target_path, canonical, &control));
}

// Stopped before the first change: the plan goes back, and a backup already
// made is named.
ApplyFinished cancelled_apply(PreviewPlan plan, const std::optional<BackupResult>& backup) {
  return ApplyFinished{.outcome = fail(apply::with_backup_note(std::string(kApplyCancelled), backup)),
                       .unchanged_plan = std::move(plan),
                       .cancelled = true};
}

// The backup failed or was cancelled; either way the target is as it was. A
// cancelled backup that left part of itself behind says so after the apply's
// own cancel text, as a failure to read.
ApplyFinished stopped_by_backup(PreviewPlan plan, std::string failure) {
  if (failure == kBackupCancelled) return cancelled_apply(std::move(plan), std::nullopt);
  if (failure.starts_with(std::string(kBackupCancelled) + "\n")) {
    failure.replace(0, kBackupCancelled.size(), kApplyCancelled);
  }
  return ApplyFinished{.outcome = fail(std::move(failure)), .unchanged_plan = std::move(plan)};
}

// The steps the transaction's phases count: one per content install, one per rename.
struct Steps {
  std::uint64_t installs = 0;
  std::uint64_t renames = 0;
};

Steps steps_of(const PreviewPlan& plan) {
  Steps steps;
  for (const ScanRecord& record : plan.scan_records) {
    steps.installs += record.replacement_bytes && record.original_bytes ? 1 : 0;
    steps.renames += record.own_renamed_path != record.original_path ? 1 : 0;
  }
  return steps;
}

// The forward way, phase by phase; the first failure stops it.
Result<void> run_forward(const Steps& steps, apply::Transaction& transaction, ApplyProgress& progress) {
  progress.begin(ApplyPhase::StagingContents, steps.installs);
  TRY(transaction.write_journal());
  TRY(transaction.stage_contents());
  TRY(transaction.flush_journal());
  progress.begin(ApplyPhase::InstallingContents, steps.installs);
  TRY(transaction.install_contents());
  progress.begin(ApplyPhase::Renaming, steps.renames);
  TRY(transaction.rename_entries());
  progress.begin(ApplyPhase::CleaningUp, steps.installs);
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

ApplyFinished run_transaction(PreviewPlan& plan, std::optional<BackupResult> backup, ApplyProgress& progress) {
  auto begun = apply::Transaction::begin(plan);
  if (!begun) return ApplyFinished{fail(apply::with_backup_note(std::move(begun.error()), backup))};
  apply::Transaction& transaction = *begun;
  transaction.count_steps_in(progress);
  const Steps steps = steps_of(plan);
  if (auto changed = run_forward(steps, transaction, progress); !changed) {
    // One step per rename and per install that may have to be undone.
    progress.begin(ApplyPhase::RollingBack, saturating_add(steps.installs, steps.renames));
    const apply::Problems problems = transaction.roll_back();
    std::optional<std::string> kept;
    if (!problems.unrestored.empty() && !transaction.journal_removed()) kept = transaction.journal_path();
    return ApplyFinished{
        fail(apply::with_backup_note(
            apply::rollback_report(std::move(changed.error()), problems, backup.has_value(), kept), backup)),
        !problems.unrestored.empty() || !problems.leftovers.empty()};
  }
  const apply::Transaction::Cleanup cleanup = transaction.finish();
  // Every change is made, whatever the cleanup left: it can be undone.
  if (!cleanup.recovery_files.empty() || !cleanup.journal.empty()) {
    return ApplyFinished{.outcome = fail(apply::with_backup_note(cleanup_text(cleanup), backup)),
                         .failure_lists_files_to_preserve = true,
                         .undo = apply::take_undo_record(plan, transaction)};
  }
  ApplyOutcome outcome = outcome_of(plan, transaction, std::move(backup));
  return ApplyFinished{.outcome = std::move(outcome), .undo = apply::take_undo_record(plan, transaction)};
}

}  // namespace

ApplyFinished run_apply(PreviewPlan plan, std::optional<std::string> backup_destination, WorkerControl* control) {
  WorkerControl unobserved;
  WorkerControl& used = control != nullptr ? *control : unobserved;
  // A selection changed since the preview makes the plan useless: it is dropped.
  if (auto verified = apply::verify_plan(plan, ApplyPhase::Verifying, used); !verified) {
    if (verified.error() == kApplyCancelled) return cancelled_apply(std::move(plan), std::nullopt);
    return ApplyFinished{fail(std::move(verified.error()))};
  }
  auto backup = back_up(plan, backup_destination, used);
  if (!backup) return stopped_by_backup(std::move(plan), std::move(backup.error()));
  // The backup may have taken long: everything is proved again right before the first change.
  if (auto again = apply::verify_plan(plan, ApplyPhase::VerifyingAgain, used); !again) {
    if (again.error() == kApplyCancelled) return cancelled_apply(std::move(plan), *backup);
    return ApplyFinished{fail(apply::with_backup_note(std::move(again.error()), *backup))};
  }
  // The journal, created next beside or in the target, is the first change:
  // from here on a cancel is refused.
  if (!used.stop_accepting_cancel()) return cancelled_apply(std::move(plan), *backup);
  return run_transaction(plan, std::move(*backup), used.apply);
}

}  // namespace tarnwick
